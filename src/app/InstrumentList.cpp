#include "app/InstrumentList.h"

#include "app/InstrumentListHost.h"
#include "app/InstrumentRegistry.h"
#include "framework/KOInstrumentController.h"
#include "platform/log/Log.h"
#include "utility/KOString.h"

#include <algorithm>
#include <utility>

namespace koru {

InstrumentList::InstrumentList(InstrumentRegistry& registry, InstrumentListHost& host)
    : mRegistry(registry), mHost(host) {}

// Instruments closing while the list goes must not report back into it.
InstrumentList::~InstrumentList() {
    for (const auto& instrument : mInstruments)
        instrument->setDelegate(nullptr);
}

KOInstrumentController* InstrumentList::addInstrument(const QString& typeName) {
    auto instrument = mRegistry.createNew(typeName, mHost.instrumentDelegate());
    return instrument ? addInstrumentController(std::move(instrument)) : nullptr;
}

QString InstrumentList::nextSPLMeterName() const {
    return KOString::uniqueStringWithPrefix(
        QString::fromLatin1(kSplMeterPrefix),
        [this](const QString& candidate) { return !instrumentControllerWithName(candidate); });
}

KOInstrumentController* InstrumentList::addSPLMeter() {
    auto meter =
        mRegistry.createNew(QString::fromLatin1(kSplMeterType), mHost.instrumentDelegate());
    if (!meter)
        return nullptr;
    meter->setName(nextSPLMeterName());
    return addInstrumentController(std::move(meter));
}

KOInstrumentController*
InstrumentList::addInstrumentController(std::unique_ptr<KOInstrumentController> instrument) {
    KOInstrumentController* added = instrument.get();
    mInstruments.push_back(std::move(instrument));
    mHost.showInstrumentWindow(*added);
    mHost.reloadTables();
    return added;
}

void InstrumentList::removeInstrument(KOInstrumentController* instrument) {
    const auto found =
        std::find_if(mInstruments.begin(), mInstruments.end(),
                     [instrument](const auto& open) { return open.get() == instrument; });
    if (found == mInstruments.end())
        return;
    mHost.resignCurrentInstrument(*instrument);
    mRecentInstruments.append(instrument->dictionaryRepresentation());
    KOInstrumentController* closing = found->release();
    mInstruments.erase(found);
    closing->deleteLater();
    mHost.reloadTables();
}

KOInstrumentController*
InstrumentList::restoreInstrumentFromDictionary(const QVariantMap& dictionary) {
    auto instrument = mRegistry.createFromDictionary(dictionary, mHost.instrumentDelegate());
    KOInstrumentController* restored = instrument.get();
    if (instrument)
        mInstruments.push_back(std::move(instrument));
    mHost.reloadOpenInstrumentsTable();
    return restored;
}

KOInstrumentController*
InstrumentList::instrumentControllerWithName(const std::optional<QString>& name) const {
    if (!name)
        return nullptr;
    for (const auto& instrument : mInstruments)
        if (instrument->name() == *name)
            return instrument.get();
    return nullptr;
}

void InstrumentList::closeInstrumentsForWorkspaceRecall() {
    // Closing removes from the list, so walk a copy.
    std::vector<KOInstrumentController*> open;
    for (const auto& instrument : mInstruments)
        open.push_back(instrument.get());
    for (KOInstrumentController* instrument : open)
        instrument->closeFromWorkspaceRecall();
}

bool InstrumentList::isInstrumentOpen(const QString& identifier) const {
    return std::any_of(mInstruments.begin(), mInstruments.end(),
                       [&](const auto& open) { return open->identifier() == identifier; });
}

KOInstrumentController* InstrumentList::instrumentAtIndex(qint64 index) const {
    if (index < 0 || index >= qint64(mInstruments.size()))
        return nullptr;
    return mInstruments[std::size_t(index)].get();
}

QVariantList InstrumentList::instrumentDictionaries() const {
    QVariantList dictionaries;
    for (const auto& instrument : mInstruments)
        dictionaries.append(instrument->dictionaryRepresentation());
    return dictionaries;
}

void InstrumentList::appendRecentInstrument(const QVariantMap& dictionary) {
    mRecentInstruments.append(dictionary);
}

} // namespace koru
