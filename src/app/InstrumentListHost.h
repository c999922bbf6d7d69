#pragma once

class KOInstrumentController;
class KOInstrumentControllerDelegate;

namespace koru {

// What the instrument list needs of the application controller: the delegate every instrument
// reports to, its windows and the two tables. Main thread only.
class InstrumentListHost {
public:
    virtual ~InstrumentListHost() = default;

    virtual KOInstrumentControllerDelegate* instrumentDelegate() = 0;
    // Shows a newly added instrument's window and makes it key.
    virtual void showInstrumentWindow(KOInstrumentController& instrument) = 0;
    // The instrument is about to enter the history: when it is the current one, the controller
    // takes its menu out of the main menu.
    virtual void resignCurrentInstrument(KOInstrumentController& instrument) = 0;
    virtual void reloadTables() = 0;
    virtual void reloadOpenInstrumentsTable() = 0;
};

} // namespace koru
