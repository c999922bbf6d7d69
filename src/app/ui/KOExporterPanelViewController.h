#pragma once

#include "app/ExporterPanelModel.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QCompleter;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStringListModel;
class KODataExporting;

// The export dialog of a table: the exported columns and their order (two lists, dragged between
// and within; a field with completion adds a column by name), the field and decimal separators,
// the export range where the table has ranges, the date and time styles of date columns (the
// context menu of a column), and a live preview of the first lines. "Export…" asks for the file;
// the file is written on the shared background queue while the dialog shows the progress, and
// the dialog closes when it is done. A failure is shown as an alert.
class KOExporterPanelViewController : public QDialog {
    Q_OBJECT
public:
    // The dialog on `window`, window-modal; it deletes itself once closed and the export ended.
    static KOExporterPanelViewController*
    runExporterSheetInWindow(QWidget* window, std::shared_ptr<KODataExporting> dataSource);
    static KOExporterPanelViewController*
    exporterPanelViewForDataSource(std::shared_ptr<KODataExporting> dataSource,
                                   QWidget* parent = nullptr);

    explicit KOExporterPanelViewController(std::shared_ptr<KODataExporting> dataSource,
                                           QWidget* parent = nullptr);
    ~KOExporterPanelViewController() override;

    void beginExportSheetInWindow(QWidget* window);

    koru::ExporterPanelModel& model() { return *m_model; }
    std::shared_ptr<KODataExporter> dataExporter() const { return m_model->dataExporter(); }

    // The style menu of a date column ("Date Format" and "Time Format"), or null for another
    // column. The caller owns it.
    QMenu* menuForRepresentedObject(const QString& key, QWidget* parent = nullptr);
    // The action of the style menus' items.
    void changeDateFormatterStyle(QAction* item);

    // The widgets, for tests and for the layout.
    QListWidget* availableList() const { return m_availableList; }
    QListWidget* chosenList() const { return m_chosenList; }
    QLineEdit* columnField() const { return m_columnField; }
    QCompleter* columnCompleter() const { return m_completer; }
    QComboBox* separatorPopUp() const { return m_separatorPopUp; }
    QComboBox* decimalSeparatorPopUp() const { return m_decimalPopUp; }
    QComboBox* rangePopUp() const { return m_rangePopUp; }
    QPlainTextEdit* previewArea() const { return m_preview; }
    QProgressBar* progressBar() const { return m_progress; }
    QPushButton* exportButton() const { return m_exportButton; }

    // Ignored while the file is being written: the dialog stays until the export ends.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void fillColumnLists();
    void syncKeysFromChosenList();
    void moveSelected(QListWidget* from, QListWidget* to);
    void addColumnFromField();
    void updateCompletions(const QString& text);
    void showStyleMenu(QListWidget* list, const QPoint& position);
    void refreshFromModel();
    void setInputsEnabled(bool enabled);
    void exportProgressed(quint64 rows, quint64 total);
    void exportEnded(bool succeeded);

    koru::ExporterPanelModel* m_model = nullptr;
    QListWidget* m_availableList = nullptr;
    QListWidget* m_chosenList = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QLineEdit* m_columnField = nullptr;
    QCompleter* m_completer = nullptr;
    QStringListModel* m_completions = nullptr;
    QComboBox* m_separatorPopUp = nullptr;
    QComboBox* m_decimalPopUp = nullptr;
    QLabel* m_rangeLabel = nullptr;
    QComboBox* m_rangePopUp = nullptr;
    QPlainTextEdit* m_preview = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    bool m_filling = false; // the lists are being refilled from the model
};
