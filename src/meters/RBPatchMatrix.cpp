#include "meters/RBPatchMatrix.h"

#include <QVariantList>

#include <algorithm>

RBPatchMatrix::RBPatchMatrix(const QStringList& channelNames, NameSource currentNames)
    : mChannelNames(channelNames), mCurrentNames(std::move(currentNames)) {
    for (std::uint32_t k = 0; k < kEntries; ++k) {
        mPatchMatrix[k] = RBPatchItem(std::int32_t(k));
        mPatchMatrix[k].setDelegate(this);
    }
}

RBPatchMatrix::RBPatchMatrix(const QStringList& channelNames, const QVariantMap& dictionary,
                             NameSource currentNames)
    : RBPatchMatrix(channelNames, std::move(currentNames)) {
    // Anything but an array (a string would convert to its characters) leaves the identity.
    const QVariant value = dictionary.value(QString::fromLatin1(kArrayKey));
    if (value.typeId() != QMetaType::QVariantList)
        return;
    const QVariantList saved = value.toList();
    for (qsizetype k = 0; k < saved.size() && k < qsizetype(kEntries); ++k) {
        bool ok = false;
        const qlonglong channel = saved.at(k).toLongLong(&ok);
        if (!ok)
            continue;
        const bool possible = channel >= -1 && channel < qlonglong(kEntries);
        mPatchMatrix[std::size_t(k)].setChannelNumber(possible ? std::int32_t(channel) : -1);
    }
}

QVariantMap RBPatchMatrix::dictionaryRepresentation() const {
    QVariantList channels;
    channels.reserve(kEntries);
    for (const RBPatchItem& item : mPatchMatrix)
        channels.append(qint64(item.channelNumber()));
    return {{QString::fromLatin1(kArrayKey), channels}};
}

std::int32_t RBPatchMatrix::channelNumberAtIndex(std::uint32_t index) const {
    return index < kEntries ? mPatchMatrix[index].channelNumber() : -1;
}

QString RBPatchMatrix::channelNameAtIndex(std::uint32_t index) const {
    if (mCurrentNames)
        return mCurrentNames(index);
    return index < std::uint32_t(mChannelNames.size()) ? mChannelNames.at(index) : QString();
}

RBPatchItem* RBPatchMatrix::patchItemAtIndex(std::uint32_t index) {
    return index < kEntries ? &mPatchMatrix[index] : nullptr;
}

std::vector<std::int32_t> RBPatchMatrix::channelMap(std::uint32_t count) const {
    std::vector<std::int32_t> map;
    map.reserve(std::min(count, kEntries));
    for (std::uint32_t k = 0; k < count && k < kEntries; ++k)
        map.push_back(mPatchMatrix[k].channelNumber());
    return map;
}

void RBPatchMatrix::didChangePatching() {
    if (mDelegate)
        mDelegate->didChangePatching();
}
