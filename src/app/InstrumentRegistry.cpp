#include "app/InstrumentRegistry.h"

#include "platform/log/Log.h"

#include <utility>

namespace koru {

InstrumentRegistry& InstrumentRegistry::shared() {
    static auto* registry = new InstrumentRegistry;
    return *registry;
}

void InstrumentRegistry::registerInstrument(const QString& typeName, CreateNew createNew,
                                            CreateFromDictionary createFromDictionary) {
    mFactories[typeName] = Factories{std::move(createNew), std::move(createFromDictionary)};
}

void InstrumentRegistry::registerWindowCommand(const QString& title, std::function<void()> show) {
    for (WindowCommand& command : mWindowCommands) {
        if (command.title == title) {
            command.show = std::move(show);
            return;
        }
    }
    mWindowCommands.push_back({title, std::move(show)});
}

bool InstrumentRegistry::contains(const QString& typeName) const {
    return mFactories.count(typeName) > 0;
}

QStringList InstrumentRegistry::typeNames() const {
    QStringList names;
    for (const auto& [name, factories] : mFactories)
        names << name;
    return names;
}

InstrumentRegistry::Instrument
InstrumentRegistry::createNew(const QString& typeName,
                              KOInstrumentControllerDelegate* delegate) const {
    const auto found = mFactories.find(typeName);
    if (found == mFactories.end()) {
        koru::log::warn("no instrument of the kind {}", typeName.toStdString());
        return nullptr;
    }
    return found->second.createNew(delegate);
}

InstrumentRegistry::Instrument
InstrumentRegistry::createFromDictionary(const QVariantMap& dictionary,
                                         KOInstrumentControllerDelegate* delegate) const {
    const QVariant type = dictionary.value(QString::fromLatin1(KOInstrumentController::kTypeKey));
    const QString typeName = type.typeId() == QMetaType::QString ? type.toString() : QString();
    const auto found = mFactories.find(typeName);
    if (found == mFactories.end()) {
        // Until every instrument kind is built, a session may name one this program lacks.
        koru::log::warn("instrument of unknown kind \"{}\" skipped", typeName.toStdString());
        return nullptr;
    }
    return found->second.createFromDictionary(dictionary, delegate);
}

} // namespace koru
