#include "framework/KOInstrumentSwitcher.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingDelegate : public KOInstrumentSwitcher::Delegate {
public:
    void switchToNextInstrument() override { calls += "next "; }
    void switchToPreviousInstrument() override { calls += "previous "; }
    std::string calls;
};

constexpr Qt::KeyboardModifiers kNone = Qt::NoModifier;
constexpr Qt::KeyboardModifiers kCtrl = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers kAlt = Qt::AltModifier;
const Qt::KeyboardModifiers kBoth = Qt::ControlModifier | Qt::AltModifier;

struct Change {
    Qt::KeyboardModifiers flags;
    double time;
};

struct ChordCase {
    const char* name;
    std::vector<Change> changes;
    std::string expected;
};

} // namespace

TEST(KOInstrumentSwitcher, ChordsStepThroughTheInstruments) {
    const ChordCase cases[] = {
        {"alt while holding ctrl", {{kCtrl, 1.0}, {kBoth, 1.1}}, "previous "},
        {"ctrl while holding alt", {{kAlt, 1.0}, {kBoth, 1.1}}, "next "},
        {"too quick, but remembered",
         {{kCtrl, 1.0}, {kBoth, 1.03}, {kCtrl, 1.2}, {kBoth, 1.3}},
         "previous "},
        {"exactly the minimum interval", {{kCtrl, 1.0}, {kBoth, 1.05}}, ""},
        {"both in one event", {{kNone, 1.0}, {kBoth, 1.2}}, ""},
        {"shift is no chord key", {{kCtrl, 1.0}, {kCtrl | Qt::ShiftModifier, 1.2}}, ""},
        {"releasing is no chord", {{kBoth, 1.0}, {kCtrl, 1.2}, {kNone, 1.4}}, ""},
        {"repeated chords",
         {{kAlt, 1.0}, {kBoth, 1.2}, {kAlt, 1.4}, {kBoth, 1.6}, {kCtrl, 1.8}, {kBoth, 2.0}},
         "next next previous "},
    };
    for (const ChordCase& c : cases) {
        KOInstrumentSwitcher switcher;
        RecordingDelegate delegate;
        switcher.setDelegate(&delegate);
        for (const Change& change : c.changes)
            switcher.flagsChanged(change.flags, change.time);
        EXPECT_EQ(delegate.calls, c.expected) << c.name;
    }
}

TEST(KOInstrumentSwitcher, WithoutDelegateNothingHappens) {
    KOInstrumentSwitcher switcher;
    switcher.flagsChanged(kCtrl, 1.0);
    switcher.flagsChanged(kBoth, 2.0);
    switcher.switchForward();
    SUCCEED();
}

// The modifier keys of any widget reach the switcher through the application. QTest presses a
// chord key by key (the held modifier first), a tenth of a second apart on the test's clock.
TEST(KOInstrumentSwitcher, ModifierKeysOfAnyWindowSwitch) {
    double now = 10.0;
    KOInstrumentSwitcher switcher([&] { return now += 0.1; });
    RecordingDelegate delegate;
    switcher.setDelegate(&delegate);
    switcher.installOnApplication();
    QWidget window;

    QTest::keyPress(&window, Qt::Key_Alt, kCtrl); // Ctrl down, then Alt
    EXPECT_EQ(delegate.calls, "previous ");
    QTest::keyRelease(&window, Qt::Key_Alt, kCtrl);
    QTest::keyPress(&window, Qt::Key_Control, kAlt); // Alt down, then Ctrl
    EXPECT_EQ(delegate.calls, "previous next ");
    QTest::keyRelease(&window, Qt::Key_Control, kAlt);
    EXPECT_EQ(delegate.calls, "previous next ");

    // An auto-repeated Alt while Ctrl is held is no fresh press.
    QTest::keyPress(&window, Qt::Key_Control);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Alt, kCtrl, QString(), true);
    QCoreApplication::sendEvent(&window, &repeat);
    EXPECT_EQ(delegate.calls, "previous next ");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, kCtrl);
    QCoreApplication::sendEvent(&window, &press);
    EXPECT_EQ(delegate.calls, "previous next previous ");
}

TEST(KOInstrumentSwitcher, EventTimeStampsAreUsedWhenPresent) {
    KOInstrumentSwitcher switcher([] { return 0.0; });
    RecordingDelegate delegate;
    switcher.setDelegate(&delegate);
    const auto send = [&](int key, Qt::KeyboardModifiers before, quint64 ms) {
        QKeyEvent event(QEvent::KeyPress, key, before);
        event.setTimestamp(ms);
        switcher.flagsChanged(event);
    };
    send(Qt::Key_Alt, kNone, 5000);
    send(Qt::Key_Control, kAlt, 5050); // 50 ms: not more than the minimum
    EXPECT_EQ(delegate.calls, "");
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Control, kBoth);
    release.setTimestamp(5200);
    switcher.flagsChanged(release);
    send(Qt::Key_Control, kAlt, 5300);
    EXPECT_EQ(delegate.calls, "next ");
}
