#include "engine/AudioSettingsDictionary.h"

#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <QVariantList>

namespace koru {

namespace {

QString key(const char* name) {
    return QString::fromLatin1(name);
}

bool isText(const QVariant& value) {
    return value.typeId() == QMetaType::QString;
}

bool isDictionary(const QVariant& value) {
    return value.typeId() == QMetaType::QVariantMap;
}

bool isArray(const QVariant& value) {
    return value.typeId() == QMetaType::QVariantList;
}

std::optional<QString> readText(const QVariantMap& dictionary, const char* name) {
    const auto found = dictionary.constFind(key(name));
    if (found == dictionary.constEnd()) {
        return std::nullopt;
    }
    if (!isText(*found)) {
        koru::log::warn("Audio settings: \"{}\" is not a text; no device matches it", name);
        return QString();
    }
    return found->toString();
}

// Entries of an array that are dictionaries; anything else is logged and left out.
QList<QVariantMap> readDictionaries(const QVariantMap& dictionary, const char* name) {
    const QVariant value = dictionary.value(key(name));
    if (!value.isValid()) {
        return {};
    }
    if (!isArray(value)) {
        koru::log::warn("Audio settings: \"{}\" is not an array; ignored", name);
        return {};
    }
    QList<QVariantMap> entries;
    const QVariantList list = value.toList();
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!isDictionary(list[i])) {
            koru::log::warn("Audio settings: entry {} of \"{}\" is not a dictionary; skipped", i,
                            name);
            continue;
        }
        entries.append(list[i].toMap());
    }
    return entries;
}

std::vector<AudioSettingsDictionary::SummingPair> readSummingPairs(const QVariantMap& dictionary) {
    std::vector<AudioSettingsDictionary::SummingPair> pairs;
    for (const QVariantMap& entry :
         readDictionaries(dictionary, AudioSettingsDictionary::kSummingChannelsKey)) {
        if (pairs.size() == AudioSettingsDictionary::kMaxSummingPairs) {
            koru::log::warn("Audio settings: more than {} summing channels; the rest are dropped",
                            AudioSettingsDictionary::kMaxSummingPairs);
            break;
        }
        pairs.push_back(
            {ZODictionary::unsignedIntForKey(entry, key(AudioSettingsDictionary::kChannelAKey), 0),
             ZODictionary::unsignedIntForKey(entry, key(AudioSettingsDictionary::kChannelBKey),
                                             0)});
    }
    return pairs;
}

std::optional<QVariantMap> readPatch(const QVariantMap& dictionary) {
    const QVariant value = dictionary.value(key(AudioSettingsDictionary::kInputPatchMatrixKey));
    if (!value.isValid()) {
        return std::nullopt;
    }
    if (!isDictionary(value)) {
        koru::log::warn("Audio settings: the input patch is not a dictionary; ignored");
        return std::nullopt;
    }
    return value.toMap();
}

} // namespace

AudioSettingsDictionary AudioSettingsDictionary::read(const QVariantMap& dictionary) {
    AudioSettingsDictionary settings;
    settings.uid = readText(dictionary, kUIDKey);
    settings.deviceName = readText(dictionary, kDeviceNameKey);
    settings.auxInputs = readDictionaries(dictionary, kAuxInputsKey);
    settings.summingChannels = readSummingPairs(dictionary);
    settings.sendGrowlNotificationOnClip =
        ZODictionary::boolForKey(dictionary, key(kSendGrowlNotificationOnClipKey), false);
    settings.inputPatchMatrix = readPatch(dictionary);
    return settings;
}

QVariantMap AudioSettingsDictionary::write() const {
    QVariantMap dictionary;
    if (deviceName && !deviceName->isEmpty()) {
        dictionary.insert(key(kDeviceNameKey), *deviceName);
    }
    if (uid && !uid->isEmpty()) {
        dictionary.insert(key(kUIDKey), *uid);
    }
    QVariantList aux;
    for (const QVariantMap& entry : auxInputs) {
        aux.append(entry);
    }
    dictionary.insert(key(kAuxInputsKey), aux);
    QVariantList summing;
    for (const SummingPair& pair : summingChannels) {
        summing.append(QVariantMap{{key(kChannelAKey), QVariant::fromValue(pair.channelA)},
                                   {key(kChannelBKey), QVariant::fromValue(pair.channelB)}});
    }
    dictionary.insert(key(kSummingChannelsKey), summing);
    dictionary.insert(key(kSendGrowlNotificationOnClipKey), sendGrowlNotificationOnClip);
    if (inputPatchMatrix) {
        dictionary.insert(key(kInputPatchMatrixKey), *inputPatchMatrix);
    }
    return dictionary;
}

} // namespace koru
