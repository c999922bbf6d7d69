#include "framework/InstrumentModelArray.h"

#include "platform/log/Log.h"
#include "platform/plist/PropertyList.h"

namespace koru::framework {

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

void InstrumentModelArray::encodeWithCoder(KeyedArchiver& coder) const {
    std::vector<const koru::platform::Archivable*> objects;
    objects.reserve(mModels.size());
    for (const ModelPointer& model : mModels)
        objects.push_back(model.get());
    coder.encodeObjectArray(QString::fromLatin1(kObjectsKey), objects);
}

QByteArray InstrumentModelArray::archivedData() const {
    QString error;
    QByteArray data = KeyedArchiver::archivedData(*this, &error);
    if (data.isEmpty())
        koru::log::error("models not archived: {}", error.toStdString());
    return data;
}

namespace {

InstrumentModelArray::ModelPointer decodeModel(const QVariant& entry, qsizetype index) {
    QString why = QStringLiteral("not an object");
    std::unique_ptr<koru::platform::Archivable> object;
    try {
        if (entry.typeId() == QMetaType::QVariantMap)
            object = KeyedUnarchiver::decodeFromDictionary(entry.toMap(), &why);
    } catch (const std::exception& error) {
        why = QString::fromUtf8(error.what());
    }
    auto* model = dynamic_cast<KOInstrumentWrapper*>(object.get());
    if (!model) {
        if (object)
            why = QStringLiteral("not an instrument model");
        koru::log::warn("skipping archived model {}: {}", index, why.toStdString());
        return nullptr;
    }
    object.release();
    return InstrumentModelArray::ModelPointer(model);
}

} // namespace

std::vector<InstrumentModelArray::ModelPointer>
InstrumentModelArray::modelsFromData(const QByteArray& data) {
    std::vector<ModelPointer> models;
    const auto read = koru::platform::PropertyList::parse(data);
    const QVariantMap root = read.value.toMap();
    if (!read.ok() || root.value(QStringLiteral("$class")).toString() != kClassName) {
        koru::log::warn("not an archive of instrument models: {}", read.error.toStdString());
        return models;
    }
    const QVariantList entries = root.value(QString::fromLatin1(kObjectsKey)).toList();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (ModelPointer model = decodeModel(entries.at(i), i))
            models.push_back(std::move(model));
    }
    return models;
}

} // namespace koru::framework
