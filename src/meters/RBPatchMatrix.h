#pragma once

#include "meters/RBPatchItem.h"
#include "meters/RBPatchingProtocol.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// The recorder's channel selection: entry k names the device channel recorded into file
// channel k (−1: none). Always 256 entries, the identity when new. The device channel names it
// was made with fix the number of grid columns; labels come from the current device when a name
// source is given, since names may change while the matrix lives. Main thread.
class RBPatchMatrix {
public:
    static constexpr std::uint32_t kEntries = 256;
    static constexpr const char* kArrayKey = "Patching.Array";
    // The current device's name of a channel.
    using NameSource = std::function<QString(std::uint32_t)>;

    explicit RBPatchMatrix(const QStringList& channelNames, NameSource currentNames = {});
    // Entries of the saved array are applied in order; beyond the 256th they are ignored, and
    // one that is no number leaves its entry as it was. A channel outside −1..255 names no
    // channel there can be, so it becomes −1 (silence).
    RBPatchMatrix(const QStringList& channelNames, const QVariantMap& dictionary,
                  NameSource currentNames = {});
    RBPatchMatrix(const RBPatchMatrix&) = delete;
    RBPatchMatrix& operator=(const RBPatchMatrix&) = delete;

    QVariantMap dictionaryRepresentation() const;

    // −1 outside the 256 entries.
    std::int32_t channelNumberAtIndex(std::uint32_t index) const;
    QString channelNameAtIndex(std::uint32_t index) const;
    QStringList channelNames() const { return mChannelNames; }
    // Null outside the 256 entries.
    RBPatchItem* patchItemAtIndex(std::uint32_t index);
    // The first `count` entries, as the recorder takes them.
    std::vector<std::int32_t> channelMap(std::uint32_t count) const;

    void didChangePatching();
    void setDelegate(RBPatchMatrixDelegate* delegate) { mDelegate = delegate; }

private:
    QStringList mChannelNames;
    NameSource mCurrentNames;
    std::array<RBPatchItem, kEntries> mPatchMatrix;
    RBPatchMatrixDelegate* mDelegate = nullptr;
};
