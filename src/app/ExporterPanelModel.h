#pragma once

#include "app/DateValueFormatter.h"
#include "app/KODataExporting.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class KODataExporter;

namespace koru {

// What the exporter dialog shows and changes, without widgets: the columns and their order, the
// two separators (kept apart by the exporter's clash rule), the export range, the date and time
// styles of date columns, the preview, and the export itself, which runs on the shared
// background queue. Everything the preview depends on announces itself through one
// previewChanged signal. Main thread only.
class ExporterPanelModel : public QObject {
    Q_OBJECT
public:
    // The two submenus of a date column's style menu, told apart by their tags.
    static const std::uint32_t kDateMenuTag;               // 'date'
    static const std::uint32_t kTimeMenuTag;               // 'time'
    static const QString kDateMenuTitle;                   // "Date Format"
    static const QString kTimeMenuTitle;                   // "Time Format"
    static constexpr quint32 kNoExportRange = 0xFFFFFFFFu; // the source has no ranges

    struct StyleItem {
        QString title; // now, written in the style
        DateValueFormatter::Style style;
        bool checked;
    };
    struct StyleMenu {
        std::vector<StyleItem> dateItems;
        std::vector<StyleItem> timeItems;
    };
    using Clock = std::function<ExportTime()>;

    explicit ExporterPanelModel(std::shared_ptr<KODataExporting> dataSource,
                                QObject* parent = nullptr);
    ~ExporterPanelModel() override;

    std::shared_ptr<KODataExporter> dataExporter() const { return m_exporter; }
    std::shared_ptr<KODataExporting> dataSource() const { return m_dataSource; }

    QStringList keyObjects() const;
    void setKeyObjects(const QStringList& keys);
    QString separatorItem() const;
    void setSeparatorItem(const QString& separator);
    QString decimalSeparator() const;
    void setDecimalSeparator(const QString& separator);
    // While an export runs, the last preview made before it.
    QString previewString();
    quint32 exportRange() const;
    void setExportRange(quint32 range);

    static QStringList availableSeparators();        // ",", ";", "Tab"
    static QStringList availableDecimalSeparators(); // ".", ","
    QStringList availableHeaders() const { return m_availableHeaders; }
    bool showExportRanges() const { return m_exportRanges.has_value(); }
    std::vector<ExportRange> exportRanges() const {
        return m_exportRanges.value_or(std::vector<ExportRange>{});
    }

    // The available headers that begin with `prefix`, ignoring case and accents, in header
    // order.
    QStringList completionsForSubstring(const QString& prefix) const;

    // Whether the column has a style menu: its formatter renders dates.
    bool hasMenuForRepresentedObject(const QString& key) const;
    // The column's style menu, its titles written for the current time; empty for a column
    // without one.
    StyleMenu styleMenuForKey(const QString& key) const;
    // `menuTag` says which style changes (kDateMenuTag or kTimeMenuTag); the preview and the
    // export use the new style.
    void changeDateFormatterStyle(const QString& key, std::uint32_t menuTag,
                                  DateValueFormatter::Style style);
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Asks the prompter for a file and exports to it; false when the user cancelled or an export
    // already runs.
    bool exportWithSavePanel();
    // Writes the file on the shared background queue. A failure is shown through the prompter
    // on the main thread. False when an export already runs.
    bool beginExport(const QString& path);
    bool isExporting() const { return m_exporting; }

signals:
    void previewChanged();
    // Rows written so far; `total` is 0 when the source does not know.
    void exportProgressed(quint64 rows, quint64 total);
    void exportEnded(bool succeeded);

private:
    std::shared_ptr<DateValueFormatter> dateFormatterForKey(const QString& key) const;
    void finishExport(bool succeeded);

    const std::shared_ptr<KODataExporting> m_dataSource;
    const std::shared_ptr<KODataExporter> m_exporter;
    const QStringList m_availableHeaders;
    const std::optional<std::vector<ExportRange>> m_exportRanges;
    Clock m_clock;
    QString m_lastPreview;
    bool m_exporting = false;
};

} // namespace koru
