#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace koru {

// What the session code needs of the application controller: the audio device, the open
// instruments and their history, the main window and the tables. The controller implements it;
// tests give a recording fake. Main thread only.
class SessionHost {
public:
    virtual ~SessionHost() = default;

    // --- Audio device ---------------------------------------------------------------------
    virtual QVariantMap audioSettingsDictionary() const = 0;
    // Receives none when the session holds no settings (or none that are a dictionary).
    virtual void loadAudioSettings(const std::optional<QVariantMap>& settings) = 0;
    // The current device's unique identifier; empty when there is no device.
    virtual QString audioDeviceUID() const = 0;

    // --- Open instruments and history -----------------------------------------------------
    // The dictionary of every open instrument, in list order.
    virtual QVariantList openInstrumentDictionaries() const = 0;
    virtual QVariantList recentInstrumentDictionaries() const = 0;
    virtual qint64 currentInstrumentIndex() const = 0;
    virtual void setCurrentInstrumentIndex(qint64 index) = 0;
    // Asks every open instrument to close as for a workspace recall; sticky ones stay, the
    // others pass into the history.
    virtual void closeInstrumentsForWorkspaceRecall() = 0;
    virtual void clearRecentInstruments() = 0;
    virtual bool isInstrumentOpen(const QString& identifier) const = 0;
    // May throw when the instrument rejects its dictionary.
    virtual void restoreInstrumentFromDictionary(const QVariantMap& dictionary) = 0;
    virtual void appendRecentInstrument(const QVariantMap& dictionary) = 0;
    // Makes the window of the open instrument at `index` key and brings it to front when it is
    // visible; an index outside the list does nothing.
    virtual void bringInstrumentToFront(qint64 index) = 0;

    // --- Main window and tables -----------------------------------------------------------
    virtual QString mainWindowFrame() const = 0;
    virtual void setMainWindowFrame(const QString& frame) = 0;
    virtual bool mainWindowVisible() const = 0;
    // Hides the main window; the program goes on running.
    virtual void closeMainWindow() = 0;
    virtual void audioPropertiesChanged() = 0;
    virtual void reloadTables() = 0;
};

} // namespace koru
