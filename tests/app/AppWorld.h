#pragma once

#include "app/InstrumentList.h"
#include "app/InstrumentListHost.h"
#include "app/InstrumentRegistry.h"
#include "app/Session.h"
#include "app/SessionHost.h"
#include "framework/KOInstrumentController.h"
#include "framework/KOInstrumentControllerDelegate.h"

#include <QStringList>
#include <QVariantMap>

#include <optional>

// A small instrument kind: one number of its own ("test.offset"), a switch to refuse closing,
// and a dictionary with "test.rejects" that it throws on, as an instrument given a bad value.
class KOTestMeterController : public KOInstrumentController {
    Q_OBJECT
public:
    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    QVariantMap dictionaryRepresentation() const override;
    bool canBeClosed() const override { return !refusesClose; }

    double offset = 0.0;
    bool refusesClose = false;
};

namespace koru::test {

// Registers the test kind as "KOTestMeterController" and, for the SPL meter's naming, under
// "KOSplController" too.
void registerTestInstruments(InstrumentRegistry& registry);

// The application controller's share of sessions, instruments and workspaces, with a main
// window and an audio device made of fields. Records what the tables and windows are told.
class AppWorld : public KOInstrumentControllerDelegate,
                 public SessionHost,
                 public InstrumentListHost {
public:
    AppWorld();
    ~AppWorld() override;

    // KOInstrumentControllerDelegate
    void removeInstrument(KOInstrumentController* controller) override;
    void instrumentDidHide(KOInstrumentController*) override {}
    void instrumentDidUnhide(KOInstrumentController*) override {}
    void setCurrentInstrument(KOInstrumentController* controller) override;
    void instrumentDidResignCurrent(KOInstrumentController*) override {}
    void shouldSetSigGenMuteStatus(bool) override {}
    void instrumentControllerDidChangeName(KOInstrumentController*) override {}
    double audioDeviceSampleRate() override { return 48000.0; }
    std::uint32_t preferredOutputDevice() override { return 0; }

    // SessionHost
    QVariantMap audioSettingsDictionary() const override { return audioSettings; }
    void loadAudioSettings(const std::optional<QVariantMap>& settings) override;
    QString audioDeviceUID() const override { return QStringLiteral("virtual:test"); }
    QVariantList openInstrumentDictionaries() const override;
    QVariantList recentInstrumentDictionaries() const override;
    qint64 currentInstrumentIndex() const override;
    void setCurrentInstrumentIndex(qint64 index) override;
    void closeInstrumentsForWorkspaceRecall() override;
    void clearRecentInstruments() override;
    bool isInstrumentOpen(const QString& identifier) const override;
    void restoreInstrumentFromDictionary(const QVariantMap& dictionary) override;
    void appendRecentInstrument(const QVariantMap& dictionary) override;
    void bringInstrumentToFront(qint64 index) override;
    QString mainWindowFrame() const override { return frame; }
    void setMainWindowFrame(const QString& value) override { frame = value; }
    bool mainWindowVisible() const override { return mainVisible; }
    void closeMainWindow() override { mainVisible = false; }
    void audioPropertiesChanged() override {}
    void reloadTables() override;

    // InstrumentListHost
    KOInstrumentControllerDelegate* instrumentDelegate() override { return this; }
    void showInstrumentWindow(KOInstrumentController& instrument) override;
    void resignCurrentInstrument(KOInstrumentController& instrument) override;
    void reloadOpenInstrumentsTable() override { events << "reloadOpenTable"; }

    // Names of the open instruments, in order.
    QStringList openNames() const;
    QStringList recentNames() const;
    KOTestMeterController* add(const QString& name, bool sticky = false);
    // Deletes the controllers that closed.
    static void deleteClosed();

    InstrumentRegistry registry;
    InstrumentList instruments{registry, *this};
    Session session{*this};

    QVariantMap audioSettings{{"SampleRate", 48000.0}};
    std::optional<QVariantMap> loadedAudioSettings;
    QString frame = QStringLiteral("0 0 640 480 0 0 1920 1080");
    bool mainVisible = true;
    bool throwWhileReloading = false;
    KOInstrumentController* current = nullptr;
    QStringList events;
};

} // namespace koru::test
