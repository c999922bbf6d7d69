#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <vector>

class KOInstrumentController;

namespace koru {

class InstrumentListHost;
class InstrumentRegistry;

// The open instruments, in the order they were created or restored, and the history of closed
// ones (their dictionaries, oldest first, unbounded). Only a close through the window makes a
// history entry. Owns the open instruments; one that closes is deleted later, since it reports
// its close from inside its window's event handling. Main thread only.
class InstrumentList {
public:
    static constexpr const char* kSplMeterType = "KOSplController";
    static constexpr const char* kSplMeterPrefix = "SPL Meter";

    InstrumentList(InstrumentRegistry& registry, InstrumentListHost& host);
    ~InstrumentList();
    InstrumentList(const InstrumentList&) = delete;
    InstrumentList& operator=(const InstrumentList&) = delete;

    // Makes a new instrument of the kind and adds it; none for a kind nobody registered.
    KOInstrumentController* addInstrument(const QString& typeName);
    // A new SPL meter named "SPL Meter <n>", the first n from 1 to 99 that no open instrument
    // uses (exactly, case and all); "SPL Meter 99" when all are taken.
    KOInstrumentController* addSPLMeter();
    QString nextSPLMeterName() const;
    // Appends, shows the window and reloads both tables.
    KOInstrumentController*
    addInstrumentController(std::unique_ptr<KOInstrumentController> instrument);
    // The window of `instrument` is closing: its dictionary (taken while the window still counts
    // as visible) enters the history and it leaves the list. One not in the list is ignored.
    void removeInstrument(KOInstrumentController* instrument);
    // Creates the instrument the dictionary's "KOType" names, without showing it (it shows or
    // hides itself), and reloads the open-instruments table. An unknown kind creates nothing; a
    // failure of the instrument itself reaches the caller.
    KOInstrumentController* restoreInstrumentFromDictionary(const QVariantMap& dictionary);
    // The first open instrument, in list order, whose name equals `name` exactly.
    KOInstrumentController* instrumentControllerWithName(const std::optional<QString>& name) const;

    // Closes every open instrument as a workspace recall does: sticky ones, and those that
    // refuse, stay; the others pass through removeInstrument into the history.
    void closeInstrumentsForWorkspaceRecall();
    bool isInstrumentOpen(const QString& identifier) const;

    const std::vector<std::unique_ptr<KOInstrumentController>>& instruments() const {
        return mInstruments;
    }
    KOInstrumentController* instrumentAtIndex(qint64 index) const;
    QVariantList instrumentDictionaries() const;

    const QVariantList& recentInstruments() const { return mRecentInstruments; }
    void appendRecentInstrument(const QVariantMap& dictionary);
    void clearRecentInstruments() { mRecentInstruments.clear(); }
    // Removes the entry at `row`; a row outside the history is ignored.
    void removeRecentInstrumentAt(qint64 row) {
        if (row >= 0 && row < mRecentInstruments.size())
            mRecentInstruments.removeAt(row);
    }
    // Removes every history entry equal to `dictionary`.
    void removeRecentInstrument(const QVariantMap& dictionary) {
        mRecentInstruments.removeAll(QVariant(dictionary));
    }

    qint64 currentInstrumentIndex() const { return mCurrentInstrumentIndex; }
    void setCurrentInstrumentIndex(qint64 index) { mCurrentInstrumentIndex = index; }

private:
    InstrumentRegistry& mRegistry;
    InstrumentListHost& mHost;
    std::vector<std::unique_ptr<KOInstrumentController>> mInstruments;
    QVariantList mRecentInstruments;
    qint64 mCurrentInstrumentIndex = 0;
};

} // namespace koru
