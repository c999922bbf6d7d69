#include "FakeSessionHost.h"

#include <stdexcept>

namespace koru::test {

void FakeSessionHost::loadAudioSettings(const std::optional<QVariantMap>& settings) {
    events << (settings ? "loadAudioSettings" : "loadAudioSettings(none)");
    loadedAudioSettings = settings;
}

void FakeSessionHost::setCurrentInstrumentIndex(qint64 index) {
    events << QStringLiteral("setCurrentInstrumentIndex %1").arg(index);
    instrumentIndex = index;
}

void FakeSessionHost::closeInstrumentsForWorkspaceRecall() {
    events << "closeInstruments";
    QVariantList staying;
    for (const QVariant& entry : open) {
        if (entry.toMap().value("instrument.noclose").toBool())
            staying.append(entry);
        else
            recent.append(entry);
    }
    open = staying;
}

void FakeSessionHost::clearRecentInstruments() {
    events << "clearRecent";
    recent.clear();
}

bool FakeSessionHost::isInstrumentOpen(const QString& identifier) const {
    return openIdentifiers().contains(identifier);
}

void FakeSessionHost::restoreInstrumentFromDictionary(const QVariantMap& dictionary) {
    const QString identifier = dictionary.value("InstrumentController.Identifier").toString();
    events << "restore " + identifier;
    if (dictionary.contains("test.rejects"))
        throw std::runtime_error("rejected");
    open.append(dictionary);
}

void FakeSessionHost::appendRecentInstrument(const QVariantMap& dictionary) {
    events << "recent " + dictionary.value("InstrumentController.Identifier").toString();
    recent.append(dictionary);
}

void FakeSessionHost::bringInstrumentToFront(qint64 index) {
    events << QStringLiteral("bringToFront %1").arg(index);
}

void FakeSessionHost::setMainWindowFrame(const QString& value) {
    events << "setFrame " + value;
    frame = value;
}

void FakeSessionHost::closeMainWindow() {
    events << "closeMainWindow";
    visible = false;
}

QStringList FakeSessionHost::openIdentifiers() const {
    QStringList identifiers;
    for (const QVariant& entry : open)
        identifiers << entry.toMap().value("InstrumentController.Identifier").toString();
    return identifiers;
}

QVariantMap instrumentEntry(const QString& identifier, const QString& name, bool sticky) {
    return {{"InstrumentController.Identifier", identifier},
            {"KOType", "KOTestMeterController"},
            {"InstrumentController.Name", name.isNull() ? identifier : name},
            {"InstrumentController.Window.Frame", "10 20 300 200 0 0 1920 1080"},
            {"InstrumentController.WindowVisible", qint64(1)},
            {"instrument.noclose", sticky},
            {"test.offset", 0.1}};
}

} // namespace koru::test
