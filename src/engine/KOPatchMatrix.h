#pragma once

#include "engine/KOPatchingProtocol.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <vector>

// The input patch: which device input channel (source) feeds each channel the engine delivers to
// the instruments (destination). A square map of N channels, 1 <= N <= 256; every destination
// names one source or none (-1). Beside the map it keeps a display name per source and an
// optional alias per destination, stored under "<prefix>-<d>" so that each device keeps its own.
//
// Main thread only. Range errors raise koru::platform::FrameworkException named
// kDestinationOutOfRange or kSourceOutOfRange; broken internal rules raise
// koru::platform::InternalInconsistencyException. Every edit of map or aliases is announced with
// kDidChangePatchNotification (sender: the matrix), after the delegate was told.
class KOPatchMatrix {
    struct Token {};

public:
    static constexpr std::uint32_t kMaxPatchMatrixSize = 256;

    static constexpr const char* kDidChangePatchNotification = "KORUNot.didChangePatch";
    static constexpr const char* kDestinationAliasDictionaryKey =
        "KOPatchMatrix.destinationAliasDictionary";
    static constexpr const char* kChannelNamesArrayKey = "KOPatchMatrix.channelNamesArray";
    static constexpr const char* kMatrixSizeKey = "KOPatchMatrix.matrixSize";
    static constexpr const char* kSourceChannelArrayKey = "KOPatchMatrix.sourceChannelArray";
    static constexpr const char* kDestinationOutOfRange = "Destination channel out of range";
    static constexpr const char* kSourceOutOfRange = "Source channel out of range";

    // Identity map of `length` channels, sources named "Channel 0", "Channel 1", ...
    static std::unique_ptr<KOPatchMatrix> initWithLength(std::uint32_t length);
    // Copies `length` entries of `map`; an entry outside -1..length-1 raises kSourceOutOfRange.
    static std::unique_ptr<KOPatchMatrix> initWithChannelMap(const std::int32_t* map,
                                                             std::uint32_t length);
    // Size and source names from the delegate (at most 256 sources are taken), identity map.
    static std::unique_ptr<KOPatchMatrix> initWithPatchMatrixDelegate(KOPatchingProtocol* delegate);
    // Restores the dictionaryRepresentation form, taking what it can from damaged data (logged):
    // a size above 256 is cut to 256, sources outside -1..N-1 become -1, missing or unreadable
    // names are generated, non-text aliases are dropped. Without a usable size it raises the size
    // check. Calls no delegate and posts nothing; the delegate is set afterwards.
    static std::unique_ptr<KOPatchMatrix>
    initWithDictionary(const QVariantMap& dictionary, KOPatchingProtocol* delegate = nullptr);

    explicit KOPatchMatrix(Token) {}
    KOPatchMatrix(const KOPatchMatrix&) = delete;
    KOPatchMatrix& operator=(const KOPatchMatrix&) = delete;

    std::uint32_t numChannels() const { return std::uint32_t(m_map.size()); }
    std::int32_t sourceChannelForDestination(std::uint32_t destination) const;
    void setSourceChannel(std::int32_t source, std::uint32_t destination);
    // Either pointer may be null.
    void copyMap(std::int32_t* map, std::uint32_t* length) const;
    // `length` must equal numChannels(); entries outside -1..N-1 are stored as -1 (logged).
    void setMap(const std::int32_t* map, std::uint32_t length);
    void make1by1patch();
    void clearAllAlias();
    // Every destination then reads source 0; names are rebuilt and aliases dropped.
    void allocateMapWithLength(std::uint32_t length);

    QString sourceChannelNameAtIndex(std::uint32_t source) const;
    void setSourceChannelName(const QString& name, std::uint32_t source);
    // "-" for an unpatched destination, else its source's name.
    QString destinationChannelNameAtIndex(std::uint32_t destination) const;
    QString aliasKeyForIndex(std::uint32_t destination) const;
    // Trimmed; a blank alias, or one equal to the source's name, removes the alias.
    void setDestinationChannelAlias(const QString& alias, std::uint32_t destination);
    QString humanReadableDestinationNameAtIndex(std::uint32_t destination) const;

    QVariantMap dictionaryRepresentation() const;
    // Adds stored aliases of any prefix, announcing nothing: what a matrix rebuilt for the same
    // device carries over from the one it replaces.
    void adoptAliases(const QVariantMap& aliases) { restoreAliases(aliases); }

    QString aliasKeyPrefix() const { return m_aliasKeyPrefix; }
    // Aliases stored under another prefix stay (and are saved) but are no longer shown.
    void setAliasKeyPrefix(const QString& prefix) { m_aliasKeyPrefix = prefix; }
    KOPatchingProtocol* delegate() const { return m_delegate; }
    void setDelegate(KOPatchingProtocol* delegate) { m_delegate = delegate; }

private:
    void checkDestination(std::uint32_t destination) const;
    void checkSource(std::int32_t source) const;
    void setIdentityMap();
    void postDidChangePatch();
    void announceMatrixChange();
    void restoreSourceNames(const QVariant& stored);
    void restoreMap(const QVariant& stored);
    void restoreAliases(const QVariant& stored);

    std::vector<std::int32_t> m_map;
    QStringList m_sourceNames;
    QMap<QString, QString> m_aliases;
    QString m_aliasKeyPrefix = QStringLiteral("c");
    KOPatchingProtocol* m_delegate = nullptr; // not owned; the owner outlives the matrix
};
