#include "app/ExporterPanelModel.h"

#include "app/KODataExporter.h"
#include "app/UiPrompter.h"
#include "platform/desktop/MainThread.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/fourcc/FourCC.h"

#include <QCoreApplication>
#include <QPointer>
#include <QUrl>

#include <atomic>

namespace koru {

const std::uint32_t ExporterPanelModel::kDateMenuTag = platform::fourCC("date");
const std::uint32_t ExporterPanelModel::kTimeMenuTag = platform::fourCC("time");
const QString ExporterPanelModel::kDateMenuTitle = QStringLiteral("Date Format");
const QString ExporterPanelModel::kTimeMenuTitle = QStringLiteral("Time Format");

namespace {

constexpr DateValueFormatter::Style kMenuStyles[] = {
    DateValueFormatter::ShortStyle, DateValueFormatter::MediumStyle, DateValueFormatter::LongStyle,
    DateValueFormatter::FullStyle, DateValueFormatter::NoStyle};

// Lower case without accents: "Été" and "ete" compare equal.
QString folded(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString plain;
    plain.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const QChar::Category category = c.category();
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_SpacingCombining &&
            category != QChar::Mark_Enclosing)
            plain += c;
    }
    return plain.toCaseFolded();
}

// Written on the background queue, read on the main thread; at most one hand-over is queued.
struct ExportProgress {
    std::atomic<quint64> rows{0};
    std::atomic<quint64> total{0};
    std::atomic<bool> posted{false};
};

} // namespace

ExporterPanelModel::ExporterPanelModel(std::shared_ptr<KODataExporting> dataSource, QObject* parent)
    : QObject(parent), m_dataSource(std::move(dataSource)),
      m_exporter(KODataExporter::exporterWithDataSource(m_dataSource)),
      m_availableHeaders(m_dataSource->headers()),
      m_exportRanges(m_dataSource->availableExportRanges()),
      m_clock([] { return std::chrono::system_clock::now(); }) {}

ExporterPanelModel::~ExporterPanelModel() = default;

QStringList ExporterPanelModel::keyObjects() const {
    return m_exporter->csvKeys();
}

void ExporterPanelModel::setKeyObjects(const QStringList& keys) {
    if (keys == m_exporter->csvKeys())
        return;
    m_exporter->setCsvKeys(keys);
    emit previewChanged();
}

QString ExporterPanelModel::separatorItem() const {
    return m_exporter->csvSeparator();
}

void ExporterPanelModel::setSeparatorItem(const QString& separator) {
    if (separator == m_exporter->csvSeparator())
        return;
    m_exporter->setCsvSeparator(separator);
    emit previewChanged();
}

QString ExporterPanelModel::decimalSeparator() const {
    return m_exporter->decimalSeparator();
}

void ExporterPanelModel::setDecimalSeparator(const QString& separator) {
    if (separator == m_exporter->decimalSeparator())
        return;
    m_exporter->setDecimalSeparator(separator);
    emit previewChanged();
}

QString ExporterPanelModel::previewString() {
    if (!m_exporting)
        m_lastPreview = m_exporter->csvPreviewString();
    return m_lastPreview;
}

quint32 ExporterPanelModel::exportRange() const {
    const std::optional<QVariantMap> options = m_dataSource->exportOptions();
    if (!options)
        return kNoExportRange;
    return options->value(KODataExporting::kExportRangeKey).toUInt();
}

void ExporterPanelModel::setExportRange(quint32 range) {
    if (m_dataSource->exportOptions() && range == exportRange())
        return;
    m_dataSource->setExportOptions({{KODataExporting::kExportRangeKey, range}});
    emit previewChanged();
}

QStringList ExporterPanelModel::availableSeparators() {
    return {QStringLiteral(","), QStringLiteral(";"), QStringLiteral("Tab")};
}

QStringList ExporterPanelModel::availableDecimalSeparators() {
    return {QStringLiteral("."), QStringLiteral(",")};
}

QStringList ExporterPanelModel::completionsForSubstring(const QString& prefix) const {
    const QString wanted = folded(prefix);
    QStringList completions;
    for (const QString& header : m_availableHeaders) {
        if (folded(header).startsWith(wanted))
            completions.push_back(header);
    }
    return completions;
}

std::shared_ptr<DateValueFormatter>
ExporterPanelModel::dateFormatterForKey(const QString& key) const {
    return std::dynamic_pointer_cast<DateValueFormatter>(m_exporter->formatterForKey(key));
}

bool ExporterPanelModel::hasMenuForRepresentedObject(const QString& key) const {
    return dateFormatterForKey(key) != nullptr;
}

ExporterPanelModel::StyleMenu ExporterPanelModel::styleMenuForKey(const QString& key) const {
    const std::shared_ptr<DateValueFormatter> formatter = dateFormatterForKey(key);
    if (!formatter)
        return {};
    const ExportTime now = m_clock();
    DateValueFormatter scratch(QLocale{});
    StyleMenu menu;
    for (const DateValueFormatter::Style style : kMenuStyles) {
        scratch.setTimeStyle(DateValueFormatter::NoStyle);
        scratch.setDateStyle(style);
        menu.dateItems.push_back(
            {scratch.stringFromDate(now), style, formatter->dateStyle() == style});
        scratch.setDateStyle(DateValueFormatter::NoStyle);
        scratch.setTimeStyle(style);
        menu.timeItems.push_back(
            {scratch.stringFromDate(now), style, formatter->timeStyle() == style});
    }
    return menu;
}

void ExporterPanelModel::changeDateFormatterStyle(const QString& key, std::uint32_t menuTag,
                                                  DateValueFormatter::Style style) {
    const std::shared_ptr<DateValueFormatter> formatter = dateFormatterForKey(key);
    if (!formatter || m_exporting)
        return;
    if (menuTag == kDateMenuTag)
        formatter->setDateStyle(style);
    else if (menuTag == kTimeMenuTag)
        formatter->setTimeStyle(style);
    else
        return;
    emit previewChanged();
}

bool ExporterPanelModel::exportWithSavePanel() {
    if (m_exporting)
        return false;
    FilePanel panel;
    panel.title = QStringLiteral("Export");
    panel.nameFilters = {QStringLiteral("CSV files (*.csv)"), QStringLiteral("All files (*)")};
    const std::optional<QString> path = uiPrompter().runSavePanel(panel);
    if (!path || path->isEmpty())
        return false;
    return beginExport(*path);
}

bool ExporterPanelModel::beginExport(const QString& path) {
    platform::SerialQueue* queue = KOBackgroundQueue();
    if (m_exporting || !queue)
        return false;
    m_exporting = true;

    // The block keeps the exporter (and through it the source) alive; the model may go first,
    // and then only the alert is left to show.
    const QPointer<ExporterPanelModel> self(this);
    auto progress = std::make_shared<ExportProgress>();
    queue->async([exporter = m_exporter, url = QUrl::fromLocalFile(path), self, progress, queue] {
        const auto report = [&](std::uint64_t rows, std::optional<std::uint64_t> total) {
            queue->reportProgress(); // so that quitting waits for a file still being written
            progress->rows = rows;
            progress->total = total.value_or(0);
            if (progress->posted.exchange(true))
                return;
            platform::postToMainThread(QCoreApplication::instance(), [self, progress] {
                progress->posted = false;
                if (self)
                    emit self->exportProgressed(progress->rows, progress->total);
            });
        };
        const std::optional<utility::Error> error = exporter->startExportCsvToURL(url, report);
        platform::postToMainThread(QCoreApplication::instance(), [self, error] {
            if (error) {
                Alert alert;
                alert.messageText = error->description;
                alert.informativeText = error->recoverySuggestion;
                uiPrompter().runModal(alert);
            }
            if (self)
                self->finishExport(!error);
        });
    });
    return true;
}

void ExporterPanelModel::finishExport(bool succeeded) {
    m_exporting = false;
    emit exportEnded(succeeded);
}

} // namespace koru
