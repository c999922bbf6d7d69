#pragma once

#include "engine/AlertPresenter.h"
#include "engine/KOAuxInFilePlayer.h"
#include "engine/ui/KOAuxInWrapper.h"

#include <functional>
#include <memory>

namespace koru {
class FilePlayerView;
namespace platform {
class AudioUnitInstance;
}
} // namespace koru

// The file player's window controller: owns the player input, shows our own player view in the
// window "fileplayer" and saves the player's settings. The output volume starts at 1.0 (0 dB)
// on creation and on every restore, whatever was set before.
//
// Two phases, as the base: construct, then create() for a new player or initWithDictionary() for
// a restored one (the factories below do both). Main thread only.
class KOAuxFilePlayerWrapper : public KOAuxInWrapper {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "fileplayer";
    static constexpr const char* kLoadFailedTitle = "Failed to load AUFilePlayer";
    static constexpr const char* kLoadFailedText =
        "Failed to load the AUFilePlayer Audio Unit, which should be provided by your system. "
        "Please check your installation and permissions. Maybe the Application Sandbox does not "
        "permit access.";

    struct Services {
        // Makes the unit the player is heard through; empty takes the default output.
        std::function<std::unique_ptr<koru::platform::AudioUnitInstance>()> output;
        // Raises the alerts (the player's and the view's); null shows message boxes.
        std::shared_ptr<koru::AlertPresenter> alerts;
    };

    // A new player with its window shown; null (after the alert) when the player cannot be made.
    static std::unique_ptr<KOAuxFilePlayerWrapper> make(Services services = {});
    // A restored player, its window shown only when it was visible; null as above.
    static std::unique_ptr<KOAuxFilePlayerWrapper> makeWithDictionary(const QVariantMap& dictionary,
                                                                      Services services = {});
    // Both, as the audio device's factory for the file player.
    static koru::AuxInputWrapperFactory factory(Services services = {});

    explicit KOAuxFilePlayerWrapper(Services services = {});
    ~KOAuxFilePlayerWrapper() override;

    // Second phase of a new player: creates it and, when that works, shows the window at 0 dB.
    bool init();
    // Second phase of a restore.
    bool initWithDictionary(const QVariantMap& dictionary);

    // YES at once when the player exists. A player whose output cannot be made raises the alert
    // "Failed to load AUFilePlayer" and leaves none; other failures throw.
    bool createPlayer();
    void showWindow(const void* sender) override;

    KOAuxInFilePlayer* filePlayer() const { return mPlayer.get(); }
    KOAuxInput* auxInput() override { return mPlayer.get(); }
    QString identifier() const override { return QStringLiteral("KOAuxFilePlayerWrapper"); }
    // The base's keys plus the player's parameters (written, never read back).
    QVariantMap dictionaryRepresentation() const override;

    // Loads a file into the player as Open… does; false (after telling the user) when the file
    // cannot be played or there is no player.
    bool loadFile(const QString& path);
    koru::FilePlayerView* playerView() const { return mView; }

protected:
    QWidget* createViewForAU(koru::AudioSource& unit) override;

private:
    Services mServices;
    std::unique_ptr<KOAuxInFilePlayer> mPlayer;
    koru::FilePlayerView* mView = nullptr; // the window owns it
};
