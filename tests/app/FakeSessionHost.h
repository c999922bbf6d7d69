#pragma once

#include "app/SessionHost.h"

#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace koru::test {

// A controller side made of plain lists: instruments are their dictionaries. Every call is
// recorded in order, so a test can see the loader's steps. An entry with the key "test.rejects"
// throws from restore, as an instrument that rejects its dictionary would.
class FakeSessionHost : public SessionHost {
public:
    QVariantMap audioSettingsDictionary() const override { return audioSettings; }
    void loadAudioSettings(const std::optional<QVariantMap>& settings) override;
    QString audioDeviceUID() const override { return uid; }

    QVariantList openInstrumentDictionaries() const override { return open; }
    QVariantList recentInstrumentDictionaries() const override { return recent; }
    qint64 currentInstrumentIndex() const override { return instrumentIndex; }
    void setCurrentInstrumentIndex(qint64 index) override;
    void closeInstrumentsForWorkspaceRecall() override;
    void clearRecentInstruments() override;
    bool isInstrumentOpen(const QString& identifier) const override;
    void restoreInstrumentFromDictionary(const QVariantMap& dictionary) override;
    void appendRecentInstrument(const QVariantMap& dictionary) override;
    void bringInstrumentToFront(qint64 index) override;

    QString mainWindowFrame() const override { return frame; }
    void setMainWindowFrame(const QString& value) override;
    bool mainWindowVisible() const override { return visible; }
    void closeMainWindow() override;
    void audioPropertiesChanged() override { events << "audioPropertiesChanged"; }
    void reloadTables() override { events << "reloadTables"; }

    // Identifiers of the open instruments, in order.
    QStringList openIdentifiers() const;

    QVariantMap audioSettings;
    std::optional<QVariantMap> loadedAudioSettings;
    QString uid;
    QVariantList open;
    QVariantList recent;
    qint64 instrumentIndex = 0;
    QString frame;
    bool visible = true;
    QStringList events;
};

// An instrument's dictionary as the base class writes it.
QVariantMap instrumentEntry(const QString& identifier, const QString& name = QString(),
                            bool sticky = false);

} // namespace koru::test
