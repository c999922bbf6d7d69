#include "KORUDictionaryAdditions.h"

#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferResults.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/exceptions/FrameworkException.h"
#include "platform/log/Log.h"
#include "platform/plist/PropertyList.h"
#include "utility/VEFileManager.h"
#include "utility/ZODictionary.h"

#include <QFileInfo>
#include <QtEndian>

#include <fmt/format.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

using koru::platform::FrameworkException;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

using Additions = KORUDictionaryAdditions;

QString key(const char* text) {
    return QString::fromLatin1(text);
}

[[noreturn]] void raise(const char* name, const std::string& reason) {
    throw FrameworkException(key(name), QString::fromStdString(reason));
}

// A float-buffer dictionary whose entries have been checked against each other: "d" holds at
// least `length` elements.
struct StoredBuffer {
    std::uint32_t length = 0;
    QByteArray data;
    bool decibel = false;
};

std::uint32_t storedLength(const QVariantMap& dictionary) {
    if (!ZODictionary::isNumber(dictionary.value(key(Additions::kLengthKey))))
        raise(Additions::kUnableToCopyFloatBuffer, R"("l" in Dictionary is missing or no number)");
    return ZODictionary::unsignedIntForKey(dictionary, key(Additions::kLengthKey), 0);
}

// Checks "d" and "dbc" for `length` elements; "l" has been read already.
StoredBuffer storedBuffer(const QVariantMap& dictionary, std::uint32_t length) {
    const QVariant data = dictionary.value(key(Additions::kDataKey));
    // A text converts to bytes as readily as data does; only real data counts.
    if (data.typeId() != QMetaType::QByteArray)
        raise(Additions::kUnableToCopyFloatBuffer, R"("d" in Dictionary is missing or no data)");
    StoredBuffer stored{length, data.toByteArray(), false};
    const std::uint64_t needed = std::uint64_t(length) * sizeof(float);
    if (std::uint64_t(stored.data.size()) < needed)
        raise(Additions::kUnableToCopyFloatBuffer,
              fmt::format(R"("d" in Dictionary holds {} bytes, {} elements need {})",
                          stored.data.size(), length, needed));
    const QVariant decibel = dictionary.value(key(Additions::kDecibelKey));
    if (decibel.isValid() && !ZODictionary::isNumber(decibel))
        raise(Additions::kUnableToCopyFloatBuffer, R"("dbc" in Dictionary is no number)");
    stored.decibel = ZODictionary::boolForKey(dictionary, key(Additions::kDecibelKey), false);
    return stored;
}

std::string lengthMismatch(std::uint32_t stored, std::uint32_t given) {
    return fmt::format("Length in Dictionary is {}, given buffer is{} long", stored, given);
}

// Everything copyToFloatBuffer checks, without writing; the length mismatch is raised under
// `mismatchName`.
StoredBuffer checkedFor(const QVariantMap& dictionary, const KOFloatBuffer& buffer,
                        const char* mismatchName) {
    const std::uint32_t length = storedLength(dictionary);
    if (length != buffer.Length())
        raise(mismatchName, lengthMismatch(length, buffer.Length()));
    return storedBuffer(dictionary, length);
}

void copyStored(const StoredBuffer& stored, KOFloatBuffer& buffer) {
    const auto* bytes = reinterpret_cast<const uchar*>(stored.data.constData());
    float* elements = buffer.Data();
    for (std::uint32_t i = 0; i < stored.length; ++i)
        elements[i] = std::bit_cast<float>(qFromLittleEndian<quint32>(bytes + 4 * i));
    buffer.SetDecibel(stored.decibel);
}

QVariantMap entry(const QVariantMap& dictionary, const char* name) {
    const QVariant value = dictionary.value(key(name));
    if (value.typeId() != QMetaType::QVariantMap)
        raise(Additions::kUnableToCopyTransferResults,
              fmt::format(R"("{}" in Dictionary is missing or no dictionary)", name));
    return value.toMap();
}

} // namespace

QVariantMap KORUDictionaryAdditions::dictionaryFromFloatBuffer(const KOFloatBuffer& buffer) {
    const std::uint32_t length = buffer.Length();
    QByteArray data(qsizetype(length) * qsizetype(sizeof(float)), Qt::Uninitialized);
    auto* bytes = reinterpret_cast<uchar*>(data.data());
    const float* elements = buffer.Data();
    for (std::uint32_t i = 0; i < length; ++i)
        qToLittleEndian(std::bit_cast<quint32>(elements[i]), bytes + 4 * i);
    return {{key(kDataKey), data},
            {key(kLengthKey), QVariant::fromValue(length)},
            {key(kDecibelKey), buffer.IsDecibel()}};
}

QVariantMap
KORUDictionaryAdditions::dictionaryWithTransferResult(const KOTransferResults& results) {
    if (!results.HasBuffers())
        return {};
    return {{key(kMagnitudeKey), dictionaryFromFloatBuffer(*results.magnitude())},
            {key(kPhaseKey), dictionaryFromFloatBuffer(*results.phase())},
            {key(kCoherenceKey), dictionaryFromFloatBuffer(*results.coherence())}};
}

QVariantMap KORUDictionaryAdditions::dictionaryWithDrawingData(const KOFFTDrawingData& data) {
    return {{key(kColorKey), KOColorAdditions::dictionaryRepresentation(data.Color().toRgb())},
            {key(kDrawingModeKey), QVariant::fromValue(std::int32_t(data.drawMode()))},
            {key(kOffsetKey), QVariant::fromValue(float(data.offset()))},
            {key(kVisibleKey), data.visible()},
            {key(kInvertKey), data.invert()},
            {key(kShowDetailsKey), data.showDetails()}};
}

std::unique_ptr<KOFloatBuffer> KORUDictionaryAdditions::floatBuffer(const QVariantMap& dictionary) {
    const std::uint32_t length = storedLength(dictionary);
    if (length == 0)
        raise(kUnableToCopyFloatBuffer, "Length in Dictionary is 0");
    const StoredBuffer stored = storedBuffer(dictionary, length);
    auto buffer = std::make_unique<KOFloatBuffer>(length);
    copyStored(stored, *buffer);
    return buffer;
}

void KORUDictionaryAdditions::copyToFloatBuffer(const QVariantMap& dictionary,
                                                KOFloatBuffer& buffer) {
    copyStored(checkedFor(dictionary, buffer, kUnableToCopyFloatBuffer), buffer);
}

void KORUDictionaryAdditions::copyToTransferResults(const QVariantMap& dictionary,
                                                    KOTransferResults& results) {
    if (!results.HasBuffers())
        raise(kUnableToCopyTransferResults, "Given results hold no buffers");
    const StoredBuffer magnitude = checkedFor(entry(dictionary, kMagnitudeKey),
                                              *results.magnitude(), kUnableToCopyTransferResults);
    const StoredBuffer phase =
        checkedFor(entry(dictionary, kPhaseKey), *results.phase(), kUnableToCopyFloatBuffer);
    const StoredBuffer coherence = checkedFor(entry(dictionary, kCoherenceKey),
                                              *results.coherence(), kUnableToCopyFloatBuffer);
    copyStored(magnitude, *results.magnitude());
    copyStored(phase, *results.phase());
    copyStored(coherence, *results.coherence());
}

void KORUDictionaryAdditions::copyToDrawingData(const QVariantMap& dictionary,
                                                KOFFTDrawingData& data) {
    const QColor color =
        KOColorAdditions::colorFromDictionary(dictionary.value(key(kColorKey)).toMap());
    data.SetColor(color.toRgb());
    data.setDrawMode(std::uint32_t(ZODictionary::intForKey(dictionary, key(kDrawingModeKey), 0)));
    const double offset = ZODictionary::floatValueForKey(dictionary, key(kOffsetKey), 0.0f);
    // A damaged file must not hand the plot a base level it cannot draw.
    data.setOffset(std::isfinite(offset) ? offset : 0.0);
    data.setVisible(ZODictionary::boolForKey(dictionary, key(kVisibleKey), false));
    data.setInvert(ZODictionary::boolForKey(dictionary, key(kInvertKey), false));
    data.setShowDetails(ZODictionary::boolForKey(dictionary, key(kShowDetailsKey), false));
}

std::optional<QVariantMap>
KORUDictionaryAdditions::dictionaryFromFileInSupportDirectory(const QString& name) {
    const QString path = VEFileManager::pathToFileInSupportDirectory(name);
    if (!QFileInfo::exists(path))
        return std::nullopt;
    const auto read = PropertyList::read(path);
    if (!read.ok()) {
        koru::log::warn("cannot read {}", read.error.toStdString());
        return std::nullopt;
    }
    if (read.value.typeId() != QMetaType::QVariantMap) {
        koru::log::warn("{} holds no dictionary", path.toStdString());
        return std::nullopt;
    }
    return read.value.toMap();
}

bool KORUDictionaryAdditions::writeToFileInAppSupportDirectory(const QVariantMap& dictionary,
                                                               const QString& name) {
    QString error;
    if (PropertyList::write(VEFileManager::pathToFileInSupportDirectory(name), dictionary,
                            PlistFormat::Xml, &error))
        return true;
    koru::log::warn("{}", error.toStdString());
    return false;
}
