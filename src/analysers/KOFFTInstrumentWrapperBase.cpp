#include "analysers/KOFFTInstrumentWrapperBase.h"

#include "app/KORUDictionaryAdditions.h"
#include "app/NumberValueFormatter.h"
#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/ZOLogViewMath.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/formatter/KOStandardNumberFormatters.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"

#include <cmath>
#include <mutex>

using koru::platform::InternalInconsistencyException;
using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

const char* const kDrawDataKeys[KOFFTInstrumentWrapperBase::kTraceCount] = {
    KOFFTInstrumentWrapperBase::kDrawDataKey1, KOFFTInstrumentWrapperBase::kDrawDataKey2,
    KOFFTInstrumentWrapperBase::kDrawDataKey3};

} // namespace

KOFFTInstrumentWrapperBase::KOFFTInstrumentWrapperBase() {
    for (auto& data : mDrawingData)
        data =
            std::make_unique<KOFFTDrawingData>(KOFFTDrawingData::kOctaveBars, true, kTraceOffset);
}

KOFFTInstrumentWrapperBase::~KOFFTInstrumentWrapperBase() = default;

void KOFFTInstrumentWrapperBase::initWithName(const QString& title, std::uint32_t fftSize) {
    KOInstrumentWrapper::initWithName(title);
    setOctaveMode(kDefaultOctaveMode);
    setFFTSize(fftSize);
    setShow(true);
}

void KOFFTInstrumentWrapperBase::initWithName(const QString& title) {
    initWithName(title, kDefaultFFTSize);
}

void KOFFTInstrumentWrapperBase::initWithCoder(KeyedUnarchiver& coder) {
    KOInstrumentWrapper::initWithCoder(coder);
    for (int i = 0; i < kTraceCount; ++i) {
        const QVariant stored = coder.decodeValue(QString::fromLatin1(kDrawDataKeys[i]));
        if (stored.typeId() == QMetaType::QVariantMap)
            KORUDictionaryAdditions::copyToDrawingData(stored.toMap(), *mDrawingData[i]);
    }
    const qint64 size = coder.decodeInt(QString::fromLatin1(kFFTSizeKey), 0);
    // A size that does not fit 32 bits is as unusable as none; the subclass refuses odd ones.
    setFFTSize(size > 0 && size <= qint64(UINT32_MAX) ? std::uint32_t(size) : kDefaultFFTSize);
    const qint64 window = coder.decodeInt(QString::fromLatin1(kWindowTypeKey), 0);
    if (window != 0)
        setWindowType(std::uint32_t(window));
    const qint64 octaves = coder.decodeInt(QString::fromLatin1(kOctaveModeKey), 0);
    setOctaveMode(octaves == 0 ? kDefaultOctaveMode : int(std::clamp<qint64>(octaves, 1, 24)));
    // An archive without the flag keeps the model visible rather than hiding it unasked.
    setShow(coder.decodeBool(QString::fromLatin1(kShowKey), true));
}

void KOFFTInstrumentWrapperBase::encodeWithCoder(KeyedArchiver& coder) const {
    KOInstrumentWrapper::encodeWithCoder(coder);
    coder.encodeInt(QString::fromLatin1(kOctaveModeKey), octaveMode());
    coder.encodeInt(QString::fromLatin1(kWindowTypeKey), windowType());
    coder.encodeBool(QString::fromLatin1(kShowKey), show());
    coder.encodeInt(QString::fromLatin1(kFFTSizeKey), FFTSize());
    for (int i = 0; i < kTraceCount; ++i)
        coder.encodeValue(QString::fromLatin1(kDrawDataKeys[i]),
                          KORUDictionaryAdditions::dictionaryWithDrawingData(*mDrawingData[i]));
}

void KOFFTInstrumentWrapperBase::setFFTSize(std::uint32_t size) {
    storeFFTSize(size);
    koru::log::debug("{} {}", "setFFTSize", size);
}

std::uint32_t KOFFTInstrumentWrapperBase::FFTSize() const {
    return mFFTSize.load(std::memory_order_relaxed);
}

std::uint32_t KOFFTInstrumentWrapperBase::windowType() const {
    return koru::platform::fourCC("hann");
}

void KOFFTInstrumentWrapperBase::setWindowType(std::uint32_t type) {
    koru::log::debug("{} set window type:{}", title().toStdString(), type);
    notifyWindowTypeChanged();
}

void KOFFTInstrumentWrapperBase::setOctaveMode(int mode) {
    trace(0).LogViewMath().setOctaveMode(mode);
}

int KOFFTInstrumentWrapperBase::octaveMode() const {
    return trace(0).LogViewMath().bandsPerOctave();
}

void KOFFTInstrumentWrapperBase::setAccumulationMode(std::uint32_t mode) {
    for (auto& data : mDrawingData)
        data->setAccumulationMode(mode);
}

std::uint32_t KOFFTInstrumentWrapperBase::accumulationMode() const {
    return trace(0).accumulationMode();
}

KOFFTDrawingData& KOFFTInstrumentWrapperBase::trace(int traceIndex) const {
    InternalInconsistencyException::check(traceIndex >= 0 && traceIndex < kTraceCount,
                                          kTraceIndexOutOfRange);
    KOFFTDrawingData* data = mDrawingData[std::size_t(traceIndex)].get();
    InternalInconsistencyException::check(data != nullptr, kDrawingDataIsNull);
    return *data;
}

KOFFTDrawingData* KOFFTInstrumentWrapperBase::drawingDataForTrace(int traceIndex) const {
    return &trace(traceIndex);
}

void KOFFTInstrumentWrapperBase::setColor(const QColor& color, int traceIndex) {
    KOFFTDrawingData& data = trace(traceIndex);
    // Colours without RGB components (named, HSV) are stored by their RGB values.
    const QColor rgb = QColor::fromRgbF(color.toRgb().redF(), color.toRgb().greenF(),
                                        color.toRgb().blueF(), color.alphaF());
    {
        const std::lock_guard lock(modelLock());
        data.SetColor(rgb);
    }
    emit traceAttributesChanged();
    if (auto* d = delegate())
        d->wrapperDidChangeColorAttributes(this);
}

QColor KOFFTInstrumentWrapperBase::colorForTrace(int traceIndex) const {
    return trace(traceIndex).Color();
}

void KOFFTInstrumentWrapperBase::setDrawingMode(std::uint32_t mode, int traceIndex) {
    KOFFTDrawingData& data = trace(traceIndex);
    {
        const std::lock_guard lock(modelLock());
        data.setDrawMode(mode);
    }
    emit traceAttributesChanged();
}

std::uint32_t KOFFTInstrumentWrapperBase::drawingModeForTrace(int traceIndex) const {
    return trace(traceIndex).drawMode();
}

void KOFFTInstrumentWrapperBase::setDraws(bool draws, int traceIndex) {
    KOFFTDrawingData& data = trace(traceIndex);
    {
        const std::lock_guard lock(modelLock());
        data.setVisible(draws);
    }
    emit traceAttributesChanged();
    if (auto* d = delegate())
        d->wrapperDidChangeDrawingAttributes(this);
}

bool KOFFTInstrumentWrapperBase::drawsTraceNumber(int traceIndex) const {
    return trace(traceIndex).visible();
}

void KOFFTInstrumentWrapperBase::setShow(bool show) {
    if (mShow.exchange(show, std::memory_order_relaxed) != show)
        emit showChanged(show);
}

void KOFFTInstrumentWrapperBase::notifyFFTSizeChanged() {
    if (auto* d = delegate())
        d->wrapperDidChangeFFTSize(this, FFTSize());
}

void KOFFTInstrumentWrapperBase::notifyWindowTypeChanged() {
    if (auto* d = delegate())
        d->wrapperDidChangeWindowType(this, windowType());
}

double KOFFTInstrumentWrapperBase::delegateSampleRate() const {
    auto* d = delegate();
    return d != nullptr ? d->currentSampleRate() : 0.0;
}

bool KOFFTInstrumentWrapperBase::prepareDataForExporting(KODataExporter&) {
    return false;
}

void KOFFTInstrumentWrapperBase::setExportData(
    std::array<std::unique_ptr<KOFloatBuffer>, kTraceCount> copies, double sampleRate) {
    mExportData = std::move(copies);
    mExportLength = mExportData[0] ? mExportData[0]->Length() : 0;
    mExportSampleRate = sampleRate;
}

void KOFFTInstrumentWrapperBase::enumerateRows(const RowVisitor& visitor) {
    const QStringList columns = headers();
    if (columns.isEmpty() || mExportLength == 0)
        return;
    const qsizetype valueColumns = std::min<qsizetype>(columns.size() - 1, kTraceCount);
    const float length = float(mExportLength);
    koru::ExportRow row;
    for (std::uint64_t i = 0; i < mExportLength / 2; ++i) {
        row.clear();
        const double quotient = double(float(i) / length);
        row.set(columns[0], double(float(quotient * mExportSampleRate)));
        for (qsizetype k = 0; k < valueColumns; ++k) {
            const KOFloatBuffer* copy = mExportData[std::size_t(k)].get();
            const float value = copy != nullptr ? copy->ValueAt(std::uint32_t(i)) : 0.0f;
            row.set(columns[k + 1], double(value));
        }
        if (!visitor(row))
            return;
    }
}

void KOFFTInstrumentWrapperBase::exportFinished(KODataExporter&) {
    for (auto& copy : mExportData)
        copy.reset();
    mExportLength = 0;
}

std::optional<std::uint64_t> KOFFTInstrumentWrapperBase::exportRowCount() const {
    return mExportLength / 2;
}

std::shared_ptr<koru::ValueFormatter>
KOFFTInstrumentWrapperBase::formatterForHeader(const QString& key) {
    if (key == QLatin1String(kFrequencyHeader))
        return std::make_shared<koru::NumberValueFormatter>(
            KOStandardNumberFormatters::standardFormatterForFrequencies());
    return std::make_shared<koru::NumberValueFormatter>(
        KOStandardNumberFormatters::standardFormatterForDbLevels());
}

std::optional<QString> KOFFTInstrumentWrapperBase::unitForHeader(const QString& key) const {
    return QString::fromLatin1(key == QLatin1String(kFrequencyHeader) ? kFrequencyUnit
                                                                      : kLevelUnit);
}

void KOFFTInstrumentWrapperBase::replaceNonFiniteByFloor(KOFloatBuffer& buffer) {
    float* values = buffer.Data();
    for (std::uint32_t i = 0; i < buffer.Length(); ++i) {
        if (!std::isfinite(values[i]))
            values[i] = kDecibelFloor;
    }
}
