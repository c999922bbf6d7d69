#include "engine/KOPatchMatrix.h"

#include "platform/exceptions/FrameworkException.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "utility/ZODictionary.h"

#include <cmath>
#include <numeric>
#include <optional>

using koru::platform::FrameworkException;
using koru::platform::InternalInconsistencyException;

namespace {

QString generatedSourceName(std::uint32_t index) {
    return QStringLiteral("Channel %1").arg(index);
}

bool isList(const QVariant& value) {
    return value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList;
}

// A stored source index; nullopt for anything that is not a number. Reals are truncated toward
// zero, and pinned far outside any channel range before they are converted.
std::optional<std::int64_t> storedInteger(const QVariant& value) {
    if (!ZODictionary::isNumber(value))
        return std::nullopt;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double real = value.toDouble();
        if (std::isnan(real))
            return std::nullopt;
        return std::int64_t(std::clamp(std::trunc(real), -1.0e12, 1.0e12));
    }
    // The property-list layer may hand a negative number over as its unsigned 64-bit pattern.
    if (value.typeId() == QMetaType::ULongLong || value.typeId() == QMetaType::ULong)
        return static_cast<std::int64_t>(value.toULongLong());
    return value.toLongLong();
}

// The stored size, cut to the largest matrix; 0 when there is none to use.
std::uint32_t restoredSize(const QVariantMap& dictionary) {
    const std::int32_t size =
        ZODictionary::intForKey(dictionary, QString::fromLatin1(KOPatchMatrix::kMatrixSizeKey), 0);
    if (size < 1) {
        koru::log::warn("Input patch: stored matrix size {} is unusable", size);
        return 0;
    }
    if (std::uint32_t(size) > KOPatchMatrix::kMaxPatchMatrixSize) {
        koru::log::warn("Input patch: stored matrix size {} cut to {} channels", size,
                        KOPatchMatrix::kMaxPatchMatrixSize);
        return KOPatchMatrix::kMaxPatchMatrixSize;
    }
    return std::uint32_t(size);
}

} // namespace

std::unique_ptr<KOPatchMatrix> KOPatchMatrix::initWithLength(std::uint32_t length) {
    auto matrix = std::make_unique<KOPatchMatrix>(Token{});
    matrix->allocateMapWithLength(length);
    matrix->setIdentityMap();
    return matrix;
}

std::unique_ptr<KOPatchMatrix> KOPatchMatrix::initWithChannelMap(const std::int32_t* map,
                                                                 std::uint32_t length) {
    InternalInconsistencyException::check(map != nullptr || length == 0, "channel map is nil");
    auto matrix = std::make_unique<KOPatchMatrix>(Token{});
    matrix->allocateMapWithLength(length);
    for (std::uint32_t d = 0; d < length; ++d) {
        matrix->checkSource(map[d]);
        matrix->m_map[d] = map[d];
    }
    return matrix;
}

std::unique_ptr<KOPatchMatrix>
KOPatchMatrix::initWithPatchMatrixDelegate(KOPatchingProtocol* delegate) {
    InternalInconsistencyException::check(delegate != nullptr, "delegate for patch matrix is nil");
    auto matrix = std::make_unique<KOPatchMatrix>(Token{});
    matrix->m_delegate = delegate;
    std::uint32_t length = delegate->numberOfSourceChannelsForMatrix(*matrix);
    if (length > kMaxPatchMatrixSize) {
        koru::log::warn("Input patch: the device offers {} inputs; only the first {} are patched",
                        length, kMaxPatchMatrixSize);
        length = kMaxPatchMatrixSize;
    }
    matrix->allocateMapWithLength(length);
    matrix->setIdentityMap();
    return matrix;
}

std::unique_ptr<KOPatchMatrix> KOPatchMatrix::initWithDictionary(const QVariantMap& dictionary,
                                                                 KOPatchingProtocol* delegate) {
    auto matrix = std::make_unique<KOPatchMatrix>(Token{});
    matrix->allocateMapWithLength(restoredSize(dictionary));
    matrix->restoreSourceNames(dictionary.value(QString::fromLatin1(kChannelNamesArrayKey)));
    matrix->restoreMap(dictionary.value(QString::fromLatin1(kSourceChannelArrayKey)));
    matrix->restoreAliases(dictionary.value(QString::fromLatin1(kDestinationAliasDictionaryKey)));
    matrix->m_delegate = delegate;
    return matrix;
}

void KOPatchMatrix::restoreSourceNames(const QVariant& stored) {
    if (!isList(stored)) {
        koru::log::warn("Input patch: no stored source names; generic names used");
        return;
    }
    const QVariantList names = stored.toList();
    std::uint32_t unreadable = 0;
    for (std::uint32_t s = 0; s < numChannels(); ++s) {
        if (s < std::uint32_t(names.size()) && names[s].typeId() == QMetaType::QString)
            m_sourceNames[s] = names[s].toString();
        else
            ++unreadable;
    }
    if (unreadable > 0 || std::uint32_t(names.size()) != numChannels())
        koru::log::warn("Input patch: {} stored source names for {} channels, {} generated",
                        names.size(), numChannels(), unreadable);
}

void KOPatchMatrix::restoreMap(const QVariant& stored) {
    if (!isList(stored)) {
        koru::log::warn("Input patch: no stored channel map; every destination reads source 0");
        return;
    }
    const QVariantList sources = stored.toList();
    if (std::uint32_t(sources.size()) != numChannels())
        koru::log::warn("Input patch: {} stored sources for {} channels", sources.size(),
                        numChannels());
    const std::uint32_t count = std::min(numChannels(), std::uint32_t(sources.size()));
    for (std::uint32_t d = 0; d < count; ++d) {
        const std::optional<std::int64_t> source = storedInteger(sources[int(d)]);
        if (source && *source >= -1 && *source < std::int64_t(numChannels())) {
            m_map[d] = std::int32_t(*source);
            continue;
        }
        koru::log::warn("Input patch: destination {} had an unusable source; left unpatched", d);
        m_map[d] = -1;
    }
}

void KOPatchMatrix::restoreAliases(const QVariant& stored) {
    if (!stored.isValid())
        return;
    if (stored.typeId() != QMetaType::QVariantMap) {
        koru::log::warn("Input patch: stored aliases are not a dictionary; none restored");
        return;
    }
    const QVariantMap aliases = stored.toMap();
    for (auto it = aliases.cbegin(); it != aliases.cend(); ++it) {
        if (it.value().typeId() == QMetaType::QString)
            m_aliases.insert(it.key(), it.value().toString());
        else
            koru::log::warn("Input patch: alias \"{}\" is not a text; dropped",
                            it.key().toStdString());
    }
}

void KOPatchMatrix::checkDestination(std::uint32_t destination) const {
    if (destination < numChannels())
        return;
    throw FrameworkException(
        QString::fromLatin1(kDestinationOutOfRange),
        QStringLiteral("Destination channel %1 out of range").arg(destination));
}

void KOPatchMatrix::checkSource(std::int32_t source) const {
    if (source >= -1 && std::int64_t(source) < std::int64_t(numChannels()))
        return;
    throw FrameworkException(QString::fromLatin1(kSourceOutOfRange),
                             QStringLiteral("Source channel %1 out of range").arg(source));
}

void KOPatchMatrix::setIdentityMap() {
    std::iota(m_map.begin(), m_map.end(), 0);
}

void KOPatchMatrix::postDidChangePatch() {
    koru::platform::NotificationCenter::defaultCenter().post(
        QString::fromLatin1(kDidChangePatchNotification), this);
}

void KOPatchMatrix::announceMatrixChange() {
    if (m_delegate)
        m_delegate->matrixDidChange(*this);
    postDidChangePatch();
}

std::int32_t KOPatchMatrix::sourceChannelForDestination(std::uint32_t destination) const {
    checkDestination(destination);
    return m_map[destination];
}

void KOPatchMatrix::setSourceChannel(std::int32_t source, std::uint32_t destination) {
    checkDestination(destination);
    checkSource(source);
    m_map[destination] = source;
    if (m_delegate)
        m_delegate->patchMatrixDidPatchSourceChannel(*this, source, destination);
    postDidChangePatch();
}

void KOPatchMatrix::copyMap(std::int32_t* map, std::uint32_t* length) const {
    if (map)
        std::copy(m_map.begin(), m_map.end(), map);
    if (length)
        *length = numChannels();
}

void KOPatchMatrix::setMap(const std::int32_t* map, std::uint32_t length) {
    InternalInconsistencyException::check(length == numChannels(), "unequal map length");
    InternalInconsistencyException::check(map != nullptr, "channel map is nil");
    for (std::uint32_t d = 0; d < length; ++d) {
        const bool valid = map[d] >= -1 && std::int64_t(map[d]) < std::int64_t(length);
        if (!valid)
            koru::log::warn("Input patch: source {} for destination {} is out of range; unpatched",
                            map[d], d);
        m_map[d] = valid ? map[d] : -1;
    }
    announceMatrixChange();
}

void KOPatchMatrix::make1by1patch() {
    setIdentityMap();
    announceMatrixChange();
}

void KOPatchMatrix::clearAllAlias() {
    m_aliases.clear();
    announceMatrixChange();
}

void KOPatchMatrix::allocateMapWithLength(std::uint32_t length) {
    InternalInconsistencyException::check(
        length >= 1 && length <= kMaxPatchMatrixSize,
        "patch matrix size must be between 1 and KOPATCH_DEF_MAXPATCHMATRIXSIZE");
    m_map.assign(length, 0);
    QStringList names;
    names.reserve(qsizetype(length));
    for (std::uint32_t s = 0; s < length; ++s)
        names.append(m_delegate ? m_delegate->sourceChannelNameAtIndex(s, *this)
                                : generatedSourceName(s));
    InternalInconsistencyException::check(std::uint32_t(names.size()) == length,
                                          "source channel names array inconsistent");
    m_sourceNames = names;
    m_aliases.clear();
}

QString KOPatchMatrix::sourceChannelNameAtIndex(std::uint32_t source) const {
    InternalInconsistencyException::check(std::uint32_t(m_sourceNames.size()) == numChannels(),
                                          "array inconsistent");
    InternalInconsistencyException::check(source < numChannels(),
                                          "inIndex > map length - source channel name at index");
    return m_sourceNames[qsizetype(source)];
}

void KOPatchMatrix::setSourceChannelName(const QString& name, std::uint32_t source) {
    InternalInconsistencyException::check(source < numChannels(),
                                          "inIndex > map length - set source channel name");
    InternalInconsistencyException::check(std::uint32_t(m_sourceNames.size()) == numChannels(),
                                          "array inconsistent");
    m_sourceNames[qsizetype(source)] = name;
}

QString KOPatchMatrix::destinationChannelNameAtIndex(std::uint32_t destination) const {
    checkDestination(destination);
    const std::int32_t source = m_map[destination];
    if (source == -1)
        return QStringLiteral("-");
    InternalInconsistencyException::check(source >= 0 && std::uint32_t(source) < numChannels(),
                                          "c inconsistent");
    return sourceChannelNameAtIndex(std::uint32_t(source));
}

QString KOPatchMatrix::aliasKeyForIndex(std::uint32_t destination) const {
    return QStringLiteral("%1-%2").arg(m_aliasKeyPrefix).arg(destination);
}

void KOPatchMatrix::setDestinationChannelAlias(const QString& alias, std::uint32_t destination) {
    checkDestination(destination);
    const QString trimmed = alias.trimmed();
    // An unpatched destination has no source name to compare with: any text is an alias.
    const std::int32_t source = m_map[destination];
    const bool hasSource = source >= 0 && std::uint32_t(source) < numChannels();
    const bool sameAsSource =
        hasSource && trimmed == sourceChannelNameAtIndex(std::uint32_t(source));
    if (!trimmed.isEmpty() && !sameAsSource)
        m_aliases.insert(aliasKeyForIndex(destination), trimmed);
    else
        m_aliases.remove(aliasKeyForIndex(destination));
    announceMatrixChange();
}

QString KOPatchMatrix::humanReadableDestinationNameAtIndex(std::uint32_t destination) const {
    checkDestination(destination);
    const auto alias = m_aliases.constFind(aliasKeyForIndex(destination));
    if (alias != m_aliases.cend())
        return alias.value();
    return destinationChannelNameAtIndex(destination);
}

QVariantMap KOPatchMatrix::dictionaryRepresentation() const {
    QVariantMap aliases;
    for (auto it = m_aliases.cbegin(); it != m_aliases.cend(); ++it)
        aliases.insert(it.key(), it.value());
    QVariantList names;
    for (const QString& name : m_sourceNames)
        names.append(name);
    QVariantList sources;
    sources.reserve(qsizetype(numChannels()));
    for (std::uint32_t d = 0; d < numChannels(); ++d)
        sources.append(sourceChannelForDestination(d));
    return {
        {QString::fromLatin1(kDestinationAliasDictionaryKey), aliases},
        {QString::fromLatin1(kChannelNamesArrayKey), names},
        {QString::fromLatin1(kMatrixSizeKey), numChannels()},
        {QString::fromLatin1(kSourceChannelArrayKey), sources},
    };
}
