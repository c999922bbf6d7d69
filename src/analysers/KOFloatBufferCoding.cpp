#include "analysers/KOFloatBufferCoding.h"

#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferResults.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"

#include <QtEndian>

#include <cstring>
#include <new>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

QString decibelKey(const QString& key) {
    return key + QLatin1String(KOFloatBufferCoding::kDecibelSuffix);
}

QByteArray littleEndianBytes(const float* values, std::uint32_t count) {
    QByteArray bytes(qsizetype(count) * 4, Qt::Uninitialized);
    qToLittleEndian<float>(values, count, bytes.data());
    return bytes;
}

// The stored bytes when they are a whole number of floats; empty otherwise.
QByteArray storedFloats(KeyedUnarchiver& coder, const QString& key) {
    const QVariant value = coder.decodeValue(key);
    if (value.typeId() != QMetaType::QByteArray)
        return {};
    QByteArray bytes = value.toByteArray();
    if (bytes.size() % 4 != 0)
        return {};
    return bytes;
}

} // namespace

void KOFloatBufferCoding::encodeFloatBuffer(KeyedArchiver& coder, const KOFloatBuffer& buffer,
                                            const QString& key) {
    coder.encodeData(key, littleEndianBytes(buffer.Data(), buffer.Length()));
    coder.encodeBool(decibelKey(key), buffer.IsDecibel());
}

std::unique_ptr<KOFloatBuffer> KOFloatBufferCoding::decodeFloatBufferForKey(KeyedUnarchiver& coder,
                                                                            const QString& key,
                                                                            std::uint32_t length) {
    auto buffer = std::make_unique<KOFloatBuffer>(length);
    const QByteArray bytes = storedFloats(coder, key);
    const qsizetype stored = bytes.size() / 4;
    if (stored != qsizetype(length)) {
        koru::log::warn("Archive: the buffer \"{}\" holds {} values where {} belong; restored as "
                        "silence",
                        key.toStdString(), stored, length);
        return buffer;
    }
    qFromLittleEndian<float>(bytes.constData(), length, buffer->Data());
    buffer->SetDecibel(coder.decodeBool(decibelKey(key), false));
    return buffer;
}

void KOFloatBufferCoding::encodeTransferResult(KeyedArchiver& coder,
                                               const KOTransferResults& results,
                                               const QString& key) {
    if (!results.HasBuffers())
        return;
    encodeFloatBuffer(coder, *results.magnitude(), key + QLatin1String(kMagnitudeSuffix));
    encodeFloatBuffer(coder, *results.phase(), key + QLatin1String(kPhaseSuffix));
    encodeFloatBuffer(coder, *results.coherence(), key + QLatin1String(kCoherenceSuffix));
}

std::unique_ptr<KOTransferResults>
KOFloatBufferCoding::decodeTransferResultsForKey(KeyedUnarchiver& coder, const QString& key,
                                                 std::uint32_t length) {
    const auto magnitude =
        decodeFloatBufferForKey(coder, key + QLatin1String(kMagnitudeSuffix), length);
    const auto phase = decodeFloatBufferForKey(coder, key + QLatin1String(kPhaseSuffix), length);
    const auto coherence =
        decodeFloatBufferForKey(coder, key + QLatin1String(kCoherenceSuffix), length);
    return std::make_unique<KOTransferResults>(magnitude.get(), phase.get(), coherence.get());
}

std::unique_ptr<float[]> KOFloatBufferCoding::decodeFloatBufferForKey(KeyedUnarchiver& coder,
                                                                      const QString& key,
                                                                      std::uint64_t* outLength) {
    koru::platform::InternalInconsistencyException::check(
        outLength != nullptr, "Invalid parameter not satisfying: outLen");
    *outLength = 0;
    const QByteArray bytes = storedFloats(coder, key);
    if (bytes.isEmpty())
        return nullptr;
    const std::uint64_t count = std::uint64_t(bytes.size()) / 4;
    std::unique_ptr<float[]> values;
    try {
        values = std::make_unique_for_overwrite<float[]>(count);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    qFromLittleEndian<float>(bytes.constData(), qsizetype(count), values.get());
    *outLength = count;
    return values;
}
