#pragma once

#include "framework/KOInstrumentController.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class KOInstrumentControllerDelegate;

namespace koru {

// Instrument kinds by the name they write under "KOType": how to make a new one and how to
// restore one from its dictionary. Each instrument subsystem registers its kinds at start-up;
// the application controller creates and restores through the shared registry. Main thread only.
class InstrumentRegistry {
public:
    using Instrument = std::unique_ptr<KOInstrumentController>;
    using CreateNew = std::function<Instrument(KOInstrumentControllerDelegate*)>;
    using CreateFromDictionary =
        std::function<Instrument(const QVariantMap&, KOInstrumentControllerDelegate*)>;

    // The program's registry; never destroyed.
    static InstrumentRegistry& shared();

    // A second registration of a name replaces the first.
    void registerInstrument(const QString& typeName, CreateNew createNew,
                            CreateFromDictionary createFromDictionary);
    // A kind made by KOInstrumentController::create from its default constructor, with the
    // delegate set once the instrument is built.
    template <typename T> void registerInstrument(const QString& typeName, const QString& nibName);

    bool contains(const QString& typeName) const;
    QStringList typeNames() const;

    // None for a name nobody registered.
    Instrument createNew(const QString& typeName, KOInstrumentControllerDelegate* delegate) const;
    // Reads "KOType"; a missing or unknown kind is logged and gives none. A failure of the
    // instrument itself reaches the caller.
    Instrument createFromDictionary(const QVariantMap& dictionary,
                                    KOInstrumentControllerDelegate* delegate) const;

    // A window a subsystem offers in the application's Window menu (the SPL logs), by its title;
    // a second registration of a title replaces the first. Listed in registration order.
    struct WindowCommand {
        QString title;
        std::function<void()> show;
    };
    void registerWindowCommand(const QString& title, std::function<void()> show);
    const std::vector<WindowCommand>& windowCommands() const { return mWindowCommands; }

private:
    struct Factories {
        CreateNew createNew;
        CreateFromDictionary createFromDictionary;
    };
    std::map<QString, Factories> mFactories;
    std::vector<WindowCommand> mWindowCommands;
};

template <typename T>
void InstrumentRegistry::registerInstrument(const QString& typeName, const QString& nibName) {
    registerInstrument(
        typeName,
        [nibName](KOInstrumentControllerDelegate* delegate) -> Instrument {
            auto instrument = KOInstrumentController::create<T>(nibName, nullptr);
            instrument->setDelegate(delegate);
            return instrument;
        },
        [nibName](const QVariantMap& dictionary,
                  KOInstrumentControllerDelegate* delegate) -> Instrument {
            auto instrument = KOInstrumentController::create<T>(nibName, &dictionary);
            instrument->setDelegate(delegate);
            return instrument;
        });
}

} // namespace koru
