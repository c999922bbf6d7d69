#include "AppWorld.h"

#include "utility/ZODictionary.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>

#include <stdexcept>

void KOTestMeterController::initWithWindowNibName(const QString& nibName,
                                                  const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    if (!dictionary)
        return;
    if (dictionary->contains(QStringLiteral("test.rejects")))
        throw std::runtime_error("test.rejects holds a value this instrument cannot take");
    offset = dictionary->value(QStringLiteral("test.offset")).toDouble();
}

QVariantMap KOTestMeterController::dictionaryRepresentation() const {
    QVariantMap dictionary = KOInstrumentController::dictionaryRepresentation();
    dictionary.insert(QStringLiteral("test.offset"), offset);
    return dictionary;
}

namespace koru::test {

void registerTestInstruments(InstrumentRegistry& registry) {
    registry.registerInstrument<KOTestMeterController>(QStringLiteral("KOTestMeterController"),
                                                       QStringLiteral("test"));
    registry.registerInstrument<KOTestMeterController>(QStringLiteral("KOSplController"),
                                                       QStringLiteral("test"));
}

AppWorld::AppWorld() {
    registerTestInstruments(registry);
}

AppWorld::~AppWorld() {
    deleteClosed();
}

void AppWorld::removeInstrument(KOInstrumentController* controller) {
    instruments.removeInstrument(controller);
}

void AppWorld::setCurrentInstrument(KOInstrumentController* controller) {
    current = controller;
}

void AppWorld::loadAudioSettings(const std::optional<QVariantMap>& settings) {
    events << (settings ? "loadAudioSettings" : "loadAudioSettings(none)");
    loadedAudioSettings = settings;
}

QVariantList AppWorld::openInstrumentDictionaries() const {
    return instruments.instrumentDictionaries();
}

QVariantList AppWorld::recentInstrumentDictionaries() const {
    return instruments.recentInstruments();
}

qint64 AppWorld::currentInstrumentIndex() const {
    return instruments.currentInstrumentIndex();
}

void AppWorld::setCurrentInstrumentIndex(qint64 index) {
    instruments.setCurrentInstrumentIndex(index);
}

void AppWorld::closeInstrumentsForWorkspaceRecall() {
    instruments.closeInstrumentsForWorkspaceRecall();
}

void AppWorld::clearRecentInstruments() {
    instruments.clearRecentInstruments();
}

bool AppWorld::isInstrumentOpen(const QString& identifier) const {
    return instruments.isInstrumentOpen(identifier);
}

void AppWorld::restoreInstrumentFromDictionary(const QVariantMap& dictionary) {
    instruments.restoreInstrumentFromDictionary(dictionary);
}

void AppWorld::appendRecentInstrument(const QVariantMap& dictionary) {
    instruments.appendRecentInstrument(dictionary);
}

void AppWorld::bringInstrumentToFront(qint64 index) {
    if (KOInstrumentController* instrument = instruments.instrumentAtIndex(index))
        if (instrument->instrumentWindow()->isVisible())
            events << "front " + instrument->name();
}

void AppWorld::reloadTables() {
    events << "reloadTables";
    if (throwWhileReloading)
        throw std::runtime_error("table reload failed");
}

void AppWorld::showInstrumentWindow(KOInstrumentController& instrument) {
    events << "show " + instrument.name();
    instrument.instrumentWindow()->show();
}

void AppWorld::resignCurrentInstrument(KOInstrumentController& instrument) {
    if (current != &instrument)
        return;
    events << "resign " + instrument.name();
    current = nullptr;
}

QStringList AppWorld::openNames() const {
    QStringList names;
    for (const auto& instrument : instruments.instruments())
        names << instrument->name();
    return names;
}

QStringList AppWorld::recentNames() const {
    QStringList names;
    for (const QVariant& entry : instruments.recentInstruments())
        names << entry.toMap().value(QStringLiteral("InstrumentController.Name")).toString();
    return names;
}

KOTestMeterController* AppWorld::add(const QString& name, bool sticky) {
    auto* instrument = static_cast<KOTestMeterController*>(
        instruments.addInstrument(QStringLiteral("KOTestMeterController")));
    instrument->setName(name);
    instrument->setSticky(sticky);
    return instrument;
}

void AppWorld::deleteClosed() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace koru::test
