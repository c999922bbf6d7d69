#include "spl/ui/KOSPLLogExportSource.h"

#include "app/DateValueFormatter.h"
#include "spl/KOSPLLog.h"
#include "utility/KOString.h"
#include "utility/VEDate.h"
#include "utility/ZODictionary.h"

#include <algorithm>
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
    // The records as they are, in one copy (a day-long log is 2 MB): the grouping waits for the
    // rows, so a preview that wants eight of them costs no more than the copy.
    try {
        mCopy = mLog->copyRecords(start, length);
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
    const std::size_t range = std::max<std::size_t>(1, mExportRange);
    for (std::size_t first = 0; first < mCopy.size(); first += range) {
        // Each row holds its group's latest time and the maxima of its levels.
        KOSPLRecord record = mCopy[first];
        for (std::size_t i = first + 1; i < std::min(mCopy.size(), first + range); ++i) {
            record.time = mCopy[i].time;
            record.spl = std::max(record.spl, mCopy[i].spl);
            record.avg = std::max(record.avg, mCopy[i].avg);
            record.leq = std::max(record.leq, mCopy[i].leq);
        }
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
    const std::uint64_t range = std::max<std::uint64_t>(1, mExportRange);
    return (mCopy.size() + range - 1) / range;
}
