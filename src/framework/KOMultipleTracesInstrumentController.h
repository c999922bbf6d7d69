#pragma once

#include "framework/KOInstrumentController.h"
#include "framework/KOInstrumentWrapper.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTableView>

#include <memory>
#include <vector>

class QMimeData;

namespace koru::framework {
class InstrumentsTableModel;
}

// An instrument window that shows several models at once, one trace each, listed in a table
// (title, icon, show) that can be reordered by dragging, dragged into another such window,
// copied and pasted; the list is saved under "instrumentData".
//
// The list is changed on the main thread only, always under the data-collection lock, because
// the collector thread walks it (instruments()) inside dataCollection. instruments() itself takes
// no lock: the collector already holds it, and main is the only writer.
//
// Pasted and dropped models are copies of the archived ones. A copy whose identifier is already
// in the list gets a fresh one, so no two models of one window share an identifier; a copy
// moved into another window keeps its identifier there.
class KOMultipleTracesInstrumentController : public KOInstrumentController {
    Q_OBJECT
public:
    using ModelPointer = std::shared_ptr<KOInstrumentWrapper>;

    static constexpr const char* kInstrumentDataKey = "instrumentData";
    // Pasteboard types by their logical names (the misspelling is the established name) and
    // the MIME formats they travel as.
    static constexpr const char* kDragTypeInstrument = "Koru.DataType.DragDrop.Instument";
    static constexpr const char* kDragTypeRowNumber = "Koru.DragDropRowNumber";
    static constexpr const char* kCopyTypeArray = "KOMultipleTraces_CopyType_Array";
    static QString mimeTypeFor(const char* pasteboardType);

    KOMultipleTracesInstrumentController();
    ~KOMultipleTracesInstrumentController() override;

    // The base initialisation, then the table and the models of "instrumentData". The table
    // outlet must be connected by buildWindow ("table view is nil").
    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;

    // A copy of the list in table order.
    std::vector<ModelPointer> instruments() const { return mInstruments; }
    int instrumentCount() const { return static_cast<int>(mInstruments.size()); }
    // Null outside the list.
    ModelPointer instrumentAt(int row) const;
    // The first selected model, or null.
    ModelPointer selectedInstrument() const;
    // Null is ignored.
    void addInstrument(ModelPointer model);
    void removeInstrument(const KOInstrumentWrapper* model);
    void insertInstrument(ModelPointer model, int index);
    // Moves the model at row `from` so it stands before the model that was at drop row `to`.
    void moveInstrument(int from, int to);

    // "<prefix> 1" ... "<prefix> 99": the first no model has as its title; else the prefix.
    QString findUniqueNameWithPrefix(const QString& prefix) const;

    void copy();
    void paste();

    // Table data source: the first of `rows` travels (as a model and as its row number),
    // marked with this window's identifier as the source.
    std::unique_ptr<QMimeData> writeRowsWithIndexes(QList<int> rows) const;
    // A move within this window's own table, a copy from anywhere else.
    Qt::DropAction validateDrop(const QMimeData* data) const;
    // Drop at row `row`: a reorder from the own table, else an inserted copy. Always true.
    bool acceptDrop(const QMimeData* data, int row);

    QTableView* instrumentsTableView() const { return mTableView; }
    void setInstrumentsTableView(QTableView* table) { mTableView = table; }
    koru::framework::InstrumentsTableModel* instrumentsArrayController() const {
        return mTableModel.get();
    }

private:
    std::vector<int> selectedRows() const;
    // Gives `model` a fresh identifier when the list already holds its identifier.
    void makeIdentifierUnique(KOInstrumentWrapper& model) const;

    QPointer<QTableView> mTableView;
    std::unique_ptr<koru::framework::InstrumentsTableModel> mTableModel;
    std::vector<ModelPointer> mInstruments;
};
