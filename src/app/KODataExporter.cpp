#include "app/KODataExporter.h"

#include "app/NumberValueFormatter.h"
#include "app/ValueFormatter.h"
#include "engine/KOAD.h"
#include "platform/files/AtomicFileWriter.h"
#include "platform/formatter/KOStandardNumberFormatters.h"
#include "platform/log/Log.h"

#include <QFileInfo>

#include <cmath>
#include <exception>
#include <utility>

using koru::ExportRow;
using koru::ExportValue;
using koru::ValueFormatter;

const QString KODataExporter::kTabSeparatorName = QStringLiteral("Tab");
const QString KODataExporter::kErrorDomain = QStringLiteral("KODataExporter");

static_assert(KODataExporter::kFiniteFloor == KOAD::kFloorDecibels,
              "exports floor silence where the meters do");

namespace {

enum ErrorCode : qint64 { kNotALocalFile = 1, kWriteFailed = 2 };

// About 64 KiB of text per write: few system calls, little memory, frequent progress.
constexpr qsizetype kChunkCharacters = 32 * 1024;

bool needsQuotes(const QString& text, const QString& separator) {
    for (const QChar c : text) {
        if (c == u'"' || c == u'\n' || c == u'\r')
            return true;
    }
    return !separator.isEmpty() && text.contains(separator);
}

void appendField(QString& out, const QString& text, const QString& separator) {
    if (!needsQuotes(text, separator)) {
        out += text;
        return;
    }
    out += u'"';
    for (const QChar c : text) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
}

// What the file may hold for a cell: never an infinity or NaN.
const ExportValue& exportable(const ExportValue& value) {
    static const ExportValue floor = KODataExporter::kFiniteFloor;
    static const ExportValue empty;
    const auto* number = std::get_if<double>(&value);
    if (!number || std::isfinite(*number))
        return value;
    return std::isnan(*number) || *number < 0 ? floor : empty;
}

} // namespace

// Turns rows into lines with one snapshot of the settings.
class KODataExporter::RowWriter {
public:
    RowWriter(QStringList keys, std::vector<std::shared_ptr<ValueFormatter>> formatters,
              QString separator)
        : m_keys(std::move(keys)), m_formatters(std::move(formatters)),
          m_separator(std::move(separator)) {}

    void appendRow(QString& out, const ExportRow& row) const {
        const qsizetype columns = m_keys.size();
        for (qsizetype i = 0; i < columns; ++i) {
            const ExportValue& value = exportable(row.value(m_keys[i]));
            if (const std::optional<QString> text = m_formatters[i]->stringForValue(value))
                appendField(out, *text, m_separator);
            if (i + 1 < columns)
                out += m_separator;
            else
                out += u'\n';
        }
    }

private:
    QStringList m_keys;
    std::vector<std::shared_ptr<ValueFormatter>> m_formatters;
    QString m_separator;
};

std::shared_ptr<KODataExporter>
KODataExporter::exporterWithDataSource(std::shared_ptr<KODataExporting> dataSource) {
    return std::make_shared<KODataExporter>(std::move(dataSource));
}

KODataExporter::KODataExporter(std::shared_ptr<KODataExporting> dataSource)
    : m_dataSource(std::move(dataSource)), m_csvKeys(m_dataSource->headers()) {}

KODataExporter::~KODataExporter() = default;

QString KODataExporter::csvSeparator() const {
    std::lock_guard lock(m_mutex);
    return m_csvSeparator;
}

void KODataExporter::setCsvSeparator(const QString& separator) {
    std::lock_guard lock(m_mutex);
    applyCsvSeparator(separator);
}

QString KODataExporter::decimalSeparator() const {
    std::lock_guard lock(m_mutex);
    return m_decimalSeparator;
}

void KODataExporter::setDecimalSeparator(const QString& separator) {
    std::lock_guard lock(m_mutex);
    applyDecimalSeparator(separator);
}

// The two rules call each other; the chain ends because ";" forces "." and "." forces ";".
void KODataExporter::applyCsvSeparator(const QString& separator) {
    m_csvSeparator = separator;
    if (m_csvSeparator == m_decimalSeparator)
        applyDecimalSeparator(QStringLiteral("."));
}

void KODataExporter::applyDecimalSeparator(const QString& separator) {
    m_decimalSeparator = separator;
    if (m_decimalSeparator == m_csvSeparator)
        applyCsvSeparator(QStringLiteral(";"));
}

QString KODataExporter::realCsvSeparator() const {
    const QString separator = csvSeparator();
    return separator == kTabSeparatorName ? QStringLiteral("\t") : separator;
}

QStringList KODataExporter::csvKeys() const {
    std::lock_guard lock(m_mutex);
    return m_csvKeys;
}

void KODataExporter::setCsvKeys(const QStringList& keys) {
    std::lock_guard lock(m_mutex);
    m_csvKeys = keys;
}

std::shared_ptr<ValueFormatter> KODataExporter::formatterForKey(const QString& key) {
    std::lock_guard lock(m_mutex);
    return cachedFormatter(key);
}

std::shared_ptr<ValueFormatter> KODataExporter::cachedFormatter(const QString& key) {
    if (const auto found = m_formatters.find(key); found != m_formatters.end())
        return found->second;
    std::shared_ptr<ValueFormatter> formatter = m_dataSource->formatterForHeader(key);
    if (!formatter)
        formatter = std::make_shared<koru::NumberValueFormatter>(
            KOStandardNumberFormatters::standardFormatter());
    m_formatters.emplace(key, formatter);
    return formatter;
}

std::vector<std::shared_ptr<ValueFormatter>> KODataExporter::dataFormatters() {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<ValueFormatter>> formatters;
    formatters.reserve(m_csvKeys.size());
    for (const QString& key : std::as_const(m_csvKeys)) {
        std::shared_ptr<ValueFormatter> formatter = cachedFormatter(key);
        if (auto* number = dynamic_cast<koru::NumberValueFormatter*>(formatter.get()))
            number->setDecimalSeparator(m_decimalSeparator);
        formatters.push_back(std::move(formatter));
    }
    return formatters;
}

QString KODataExporter::csvHeaderString() const {
    const QStringList keys = csvKeys();
    const QString separator = realCsvSeparator();
    QString header;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const std::optional<QString> unit = m_dataSource->unitForHeader(keys[i]);
        const QString title = unit ? QStringLiteral("%1 [%2]").arg(keys[i], *unit) : keys[i];
        appendField(header, title, separator);
        header += i + 1 < keys.size() ? separator : QStringLiteral("\n");
    }
    return header;
}

koru::utility::Error KODataExporter::writeError(const QString& path, const QString& why) const {
    return {kErrorDomain, kWriteFailed,
            QStringLiteral("The file \u201C%1\u201D could not be saved.")
                .arg(QFileInfo(path).fileName()),
            why};
}

std::optional<koru::utility::Error> KODataExporter::startExportCsvToURL(const QUrl& url,
                                                                        const Progress& progress) {
    koru::log::debug("starting export");
    if (!url.isLocalFile())
        return koru::utility::Error{
            kErrorDomain, kNotALocalFile,
            QStringLiteral("\u201C%1\u201D is not a file on this computer.").arg(url.toString()),
            QString()};
    const QString path = url.toLocalFile();
    std::lock_guard run(m_runMutex);

    koru::platform::AtomicFileWriter file(path);
    QString why;
    if (!file.open(&why))
        return writeError(path, why);
    bool prepared = false;
    std::optional<koru::utility::Error> error;
    try {
        prepared = m_dataSource->prepareDataForExporting(*this);
        if (!prepared)
            return std::nullopt; // the writer removes its temporary file: nothing is replaced
        const RowWriter writer(csvKeys(), dataFormatters(), realCsvSeparator());
        const std::optional<std::uint64_t> total = m_dataSource->exportRowCount();
        QString pending = csvHeaderString();
        std::uint64_t rows = 0;
        bool written = true;
        m_dataSource->enumerateRows([&](const ExportRow& row) {
            writer.appendRow(pending, row);
            ++rows;
            if (pending.size() < kChunkCharacters)
                return true;
            written = file.write(pending.toUtf8(), &why);
            pending.resize(0); // keeps the room for the next piece
            if (written && progress)
                progress(rows, total);
            return written;
        });
        if (written)
            written = file.write(pending.toUtf8(), &why) && file.commit(&why);
        if (written && progress)
            progress(rows, total);
        if (!written)
            error = writeError(path, why);
    } catch (const std::exception& e) {
        error = writeError(path, QString::fromUtf8(e.what()));
    }
    // Also after a failed write: the source's copy is of no further use.
    if (prepared)
        m_dataSource->exportFinished(*this);
    koru::log::debug("finished export");
    return error;
}

QString KODataExporter::csvPreviewString() {
    std::unique_lock run(m_runMutex, std::try_to_lock);
    if (!run.owns_lock())
        return QString();
    if (!m_dataSource->prepareDataForExporting(*this))
        return QString();
    const RowWriter writer(csvKeys(), dataFormatters(), realCsvSeparator());
    QString text = csvHeaderString();
    int rows = 0;
    m_dataSource->enumerateRows([&](const ExportRow& row) {
        writer.appendRow(text, row);
        return ++rows < kPreviewRows;
    });
    m_dataSource->exportFinished(*this);
    return text;
}
