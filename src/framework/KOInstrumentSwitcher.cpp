#include "framework/KOInstrumentSwitcher.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <chrono>

namespace {

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The modifier state a modifier key's own event leaves behind. X11 reports the state from
// before the key went down or up, so the key itself decides its own modifier.
Qt::KeyboardModifiers modifiersAfter(const QKeyEvent& event) {
    Qt::KeyboardModifiers flags = event.modifiers();
    const bool down = event.type() == QEvent::KeyPress;
    const auto apply = [&](Qt::KeyboardModifier modifier) { flags.setFlag(modifier, down); };
    switch (event.key()) {
    case Qt::Key_Control:
        apply(Qt::ControlModifier);
        break;
    case Qt::Key_Alt:
        apply(Qt::AltModifier);
        break;
    case Qt::Key_Shift:
        apply(Qt::ShiftModifier);
        break;
    case Qt::Key_Meta:
        apply(Qt::MetaModifier);
        break;
    default:
        break;
    }
    return flags;
}

bool isModifierKey(int key) {
    return key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Shift ||
           key == Qt::Key_Meta;
}

} // namespace

KOInstrumentSwitcher& KOInstrumentSwitcher::sharedInstrumentSwitcher() {
    static KOInstrumentSwitcher* const shared = [] {
        auto* switcher = new KOInstrumentSwitcher();
        switcher->installOnApplication();
        return switcher;
    }();
    return *shared;
}

KOInstrumentSwitcher::KOInstrumentSwitcher(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(monotonicSeconds)) {}

KOInstrumentSwitcher::~KOInstrumentSwitcher() = default;

void KOInstrumentSwitcher::installOnApplication() {
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

void KOInstrumentSwitcher::flagsChanged(Qt::KeyboardModifiers flags, double timestamp) {
    const bool command = flags.testFlag(Qt::ControlModifier);
    const bool option = flags.testFlag(Qt::AltModifier);
    // Time stamps come in milliseconds: 50 ms must not count as more than 0.05 s by rounding.
    if (timestamp - m_lastChange > kMinimumInterval + 1e-9) {
        if (!m_lastOption && option && m_lastCommand)
            switchBackward();
        if (!m_lastCommand && command && m_lastOption)
            switchForward();
    }
    m_lastCommand = command;
    m_lastOption = option;
    m_lastChange = timestamp;
}

void KOInstrumentSwitcher::flagsChanged(const QKeyEvent& event) {
    const bool keyEvent = event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease;
    if (!keyEvent || event.isAutoRepeat() || !isModifierKey(event.key()))
        return;
    // Synthesised events carry no time stamp.
    const double timestamp =
        event.timestamp() != 0 ? double(event.timestamp()) / 1000.0 : m_clock();
    flagsChanged(modifiersAfter(event), timestamp);
}

void KOInstrumentSwitcher::switchForward() {
    if (m_delegate)
        m_delegate->switchToNextInstrument();
}

void KOInstrumentSwitcher::switchBackward() {
    if (m_delegate)
        m_delegate->switchToPreviousInstrument();
}

bool KOInstrumentSwitcher::eventFilter(QObject* watched, QEvent* event) {
    // A key event travels from the window to the focus widget and up its parents, so one press
    // passes here several times; the second pass finds the state already updated.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
        flagsChanged(*static_cast<QKeyEvent*>(event));
    return QObject::eventFilter(watched, event);
}
