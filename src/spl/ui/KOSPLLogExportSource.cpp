#include "spl/ui/KOSPLLogExportSource.h"

#include "app/DateValueFormatter.h"
#include "spl/KOSPLLog.h"
#include "utility/KOString.h"
#include "utility/VEDate.h"
#include "utility/ZODictionary.h"

#include <chrono>
#include <cmath>

namespace {

const QString kTime = QStringLiteral("Time");
const QString kSPL = QStringLiteral("SPL");
const QString kAVG = QStringLiteral("AVG");
const QString kLEQ = QStringLiteral("LEQ");

} // namespace

KOSPLLogExportSource::KOSPLLogExportSource(std::shared_ptr<KOSPLLog> log) : mLog(std::move(log)) {}

KOSPLLogExportSource::~KOSPLLogExportSource() = default;

bool KOSPLLogExportSource::canExportData() const {
    return mLog && mLog->length() > 0;
}

bool KOSPLLogExportSource::prepareDataForExporting(KODataExporter& /*exporter*/) {
    mCopy.clear();
    if (!mLog)
        return false;
    auto [start, length] = mLog->selectionRange();
    if (length == 0) {
        start = 0;
        length = mLog->length();
    }
    try {
        mLog->enumerateDataInRange(start, length, mExportRange,
                                   [this](const KOSPLRecord& record) { mCopy.push_back(record); });
    } catch (const std::bad_alloc&) {
        mCopy.clear();
        return false;
    }
    return true;
}

QStringList KOSPLLogExportSource::headers() const {
    return {kTime, kSPL, kAVG, kLEQ};
}

void KOSPLLogExportSource::enumerateRows(const RowVisitor& visitor) {
    koru::ExportRow row;
    for (const KOSPLRecord& record : mCopy) {
        row.clear();
        const auto ms =
            std::llround((record.time + double(VEDate::kReferenceDateUnixSeconds)) * 1000.0);
        row.set(kTime, koru::ExportTime{} + std::chrono::milliseconds(ms));
        row.set(kSPL, double(record.spl));
        row.set(kAVG, double(record.avg));
        row.set(kLEQ, double(record.leq));
        if (!visitor(row))
            return;
    }
}

void KOSPLLogExportSource::exportFinished(KODataExporter& /*exporter*/) {
    mCopy.clear();
    mCopy.shrink_to_fit();
}

std::shared_ptr<koru::ValueFormatter> KOSPLLogExportSource::formatterForHeader(const QString& key) {
    if (key != kTime)
        return nullptr;
    return std::make_shared<koru::DateValueFormatter>(QLocale(), koru::DateValueFormatter::NoStyle,
                                                      koru::DateValueFormatter::LongStyle);
}

std::optional<QString> KOSPLLogExportSource::unitForHeader(const QString& key) const {
    if (key == kTime || !mLog)
        return std::nullopt;
    return QStringLiteral("dB(%1)").arg(KOString::shortStringWithWeightingType(mLog->weight()));
}

std::optional<std::vector<koru::ExportRange>> KOSPLLogExportSource::availableExportRanges() const {
    return std::vector<koru::ExportRange>{{QStringLiteral("1sec"), 1},
                                          {QStringLiteral("10sec"), 10},
                                          {QStringLiteral("30sec"), 30},
                                          {QStringLiteral("1min"), 60},
                                          {QStringLiteral("10min"), 600}};
}

std::optional<QVariantMap> KOSPLLogExportSource::exportOptions() const {
    return QVariantMap{{kExportRangeKey, mExportRange}};
}

void KOSPLLogExportSource::setExportOptions(const QVariantMap& options) {
    const QVariant range = options.value(kExportRangeKey);
    if (ZODictionary::isNumber(range) && range.toDouble() >= 1.0)
        mExportRange = range.toUInt();
}

std::optional<std::uint64_t> KOSPLLogExportSource::exportRowCount() const {
    return mCopy.size();
}
