#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;

// Two-key modifier chords that step through the instrument windows: Alt pressed while Ctrl is
// held switches to the previous instrument, Ctrl pressed while Alt is held to the next one.
// One per process; it watches the modifier keys of every window through an application-wide
// event filter. Main thread only.
class KOInstrumentSwitcher : public QObject {
public:
    // The application controller.
    class Delegate {
    public:
        virtual ~Delegate() = default;
        virtual void switchToNextInstrument() = 0;
        virtual void switchToPreviousInstrument() = 0;
    };
    // Seconds on a monotonic clock; stands in for the time stamp of events that carry none.
    using Clock = std::function<double()>;

    // Changes less than this far apart only update the remembered state: pressing both keys
    // at once is no chord.
    static constexpr double kMinimumInterval = 0.05;

    // Created on first use, filtering the application's events from then on.
    static KOInstrumentSwitcher& sharedInstrumentSwitcher();

    // The program uses the shared one; tests make their own.
    explicit KOInstrumentSwitcher(Clock clock = {});
    ~KOInstrumentSwitcher() override;

    void setDelegate(Delegate* delegate) { m_delegate = delegate; }
    void installOnApplication();

    // The modifier keys now held and the time of the change in seconds.
    void flagsChanged(Qt::KeyboardModifiers flags, double timestamp);
    // Modifier-key presses and releases; other events are ignored.
    void flagsChanged(const QKeyEvent& event);

    void switchForward();
    void switchBackward();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Clock m_clock;
    Delegate* m_delegate = nullptr;
    bool m_lastCommand = false;
    bool m_lastOption = false;
    double m_lastChange = 0.0;
};
