#include "app/ui/KOShortcutRecorder.h"

#include "platform/keyboard/X11KeyboardLayout.h"

#include <QGuiApplication>

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFrame>
#include <QStylePainter>

#include <array>
#include <utility>

namespace {

// The shifted symbols of a US keyboard and their keys.
constexpr std::array<std::pair<int, int>, 21> kUsShiftedSymbols{{
    {Qt::Key_Exclam, Qt::Key_1},
    {Qt::Key_At, Qt::Key_2},
    {Qt::Key_NumberSign, Qt::Key_3},
    {Qt::Key_Dollar, Qt::Key_4},
    {Qt::Key_Percent, Qt::Key_5},
    {Qt::Key_AsciiCircum, Qt::Key_6},
    {Qt::Key_Ampersand, Qt::Key_7},
    {Qt::Key_Asterisk, Qt::Key_8},
    {Qt::Key_ParenLeft, Qt::Key_9},
    {Qt::Key_ParenRight, Qt::Key_0},
    {Qt::Key_Underscore, Qt::Key_Minus},
    {Qt::Key_Plus, Qt::Key_Equal},
    {Qt::Key_BraceLeft, Qt::Key_BracketLeft},
    {Qt::Key_BraceRight, Qt::Key_BracketRight},
    {Qt::Key_Bar, Qt::Key_Backslash},
    {Qt::Key_Colon, Qt::Key_Semicolon},
    {Qt::Key_QuoteDbl, Qt::Key_Apostrophe},
    {Qt::Key_Less, Qt::Key_Comma},
    {Qt::Key_Greater, Qt::Key_Period},
    {Qt::Key_Question, Qt::Key_Slash},
    {Qt::Key_AsciiTilde, Qt::Key_QuoteLeft},
}};

constexpr Qt::KeyboardModifiers kRecordedModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_unknown:
    case 0:
        return true;
    default:
        return false;
    }
}

} // namespace

int KORecordedShortcut::unshiftedKey(int key) {
    for (const auto& [symbol, plain] : kUsShiftedSymbols)
        if (symbol == key)
            return plain;
    return key;
}

std::optional<KORecordedShortcut> KORecordedShortcut::fromKeyEvent(const QKeyEvent& event) {
    using koru::platform::X11KeyboardLayout;
    if (isModifierKey(event.key()))
        return std::nullopt;
    if (const auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        const std::optional<std::uint32_t> keysym = X11KeyboardLayout::unshiftedKeysym(
            x11->connection(), event.nativeScanCode(), event.nativeModifiers());
        if (const int key = keysym ? X11KeyboardLayout::qtKeyForKeysym(*keysym) : 0)
            return fromKeyEvent(key, event.modifiers(), true);
    }
    return fromKeyEvent(event.key(), event.modifiers());
}

std::optional<KORecordedShortcut>
KORecordedShortcut::fromKeyEvent(int key, Qt::KeyboardModifiers modifiers, bool keyIsUnshifted) {
    if (isModifierKey(key))
        return std::nullopt;
    KORecordedShortcut shortcut;
    shortcut.keyCode = keyIsUnshifted ? key : unshiftedKey(key);
    shortcut.modifierFlags = quint64((modifiers & kRecordedModifiers).toInt());
    QString characters = QKeySequence(QKeyCombination(Qt::Key(shortcut.keyCode)))
                             .toString(QKeySequence::PortableText);
    if (shortcut.keyCode >= Qt::Key_A && shortcut.keyCode <= Qt::Key_Z)
        characters = characters.toLower();
    shortcut.characters = characters;
    return shortcut;
}

QList<QKeySequence> KORecordedShortcut::menuShortcuts(const QString& characters,
                                                      quint64 modifierFlags) {
    if (characters.isEmpty())
        return {};
    const QKeySequence keyOnly = QKeySequence::fromString(characters, QKeySequence::PortableText);
    if (keyOnly.isEmpty())
        return {};
    const Qt::KeyboardModifiers modifiers = Qt::KeyboardModifiers::fromInt(
        static_cast<int>(modifierFlags & quint64(Qt::KeyboardModifierMask)));
    const Qt::Key key = keyOnly[0].key();
    QList<QKeySequence> shortcuts{QKeySequence(QKeyCombination(modifiers, key))};
    if (modifiers.testFlag(Qt::ShiftModifier))
        for (const auto& [symbol, plain] : kUsShiftedSymbols)
            if (plain == key)
                shortcuts.append(QKeySequence(QKeyCombination(modifiers, Qt::Key(symbol))));
    return shortcuts;
}

QString KORecordedShortcut::readableString(quint64 modifierFlags, std::int32_t keyCode) {
    const Qt::KeyboardModifiers modifiers = Qt::KeyboardModifiers::fromInt(
        static_cast<int>(modifierFlags & quint64(kRecordedModifiers.toInt())));
    if (keyCode > 0)
        return QKeySequence(QKeyCombination(modifiers, Qt::Key(keyCode)))
            .toString(QKeySequence::NativeText);
    if (!modifiers)
        return {};
    // The modifiers' part of a shortcut's text, without its key.
    const QString withKey =
        QKeySequence(QKeyCombination(modifiers, Qt::Key_A)).toString(QKeySequence::NativeText);
    return withKey.left(withKey.size() - 1);
}

// --- The recorder control ------------------------------------------------------------------------

KOShortcutRecorder::KOShortcutRecorder(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setToolTip(tr("Click, then press the shortcut. Backspace clears it."));
}

void KOShortcutRecorder::setValue(const std::optional<KORecordedShortcut>& value) {
    mValue = value;
    update();
}

std::optional<QString> KOShortcutRecorder::keyChars() const {
    if (!mValue)
        return std::nullopt;
    if (mValue->keyCode == -1)
        return QString();
    return mValue->characters;
}

QString KOShortcutRecorder::displayText() const {
    if (mRecording)
        return tr("Type shortcut");
    const QString text =
        mValue ? KORecordedShortcut::readableString(mValue->modifierFlags, mValue->keyCode)
               : QString();
    return text.isEmpty() ? tr("Click to record shortcut") : text;
}

QSize KOShortcutRecorder::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(tr("Click to record shortcut")) + 24, metrics.height() + 12};
}

bool KOShortcutRecorder::event(QEvent* event) {
    // While recording, every key belongs to the recorder, also those that are some menu's
    // shortcut.
    if (event->type() == QEvent::ShortcutOverride && mRecording) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void KOShortcutRecorder::keyPressEvent(QKeyEvent* event) {
    if (!mRecording) {
        if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) {
            mRecording = true;
            update();
            return;
        }
        QWidget::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & kRecordedModifiers;
    if (event->key() == Qt::Key_Escape && !modifiers) {
        mRecording = false;
        update();
        return;
    }
    if ((event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) && !modifiers) {
        KORecordedShortcut cleared;
        finishRecording(cleared);
        return;
    }
    const std::optional<KORecordedShortcut> shortcut = KORecordedShortcut::fromKeyEvent(*event);
    // A bare key or Shift+key would take over typing in every window.
    if (!shortcut || !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        event->accept();
        return;
    }
    finishRecording(shortcut);
}

void KOShortcutRecorder::finishRecording(const std::optional<KORecordedShortcut>& value) {
    mRecording = false;
    setValue(value);
    emit recordingEnded();
}

void KOShortcutRecorder::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    mRecording = true;
    update();
    event->accept();
}

void KOShortcutRecorder::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void KOShortcutRecorder::focusOutEvent(QFocusEvent* event) {
    mRecording = false;
    QWidget::focusOutEvent(event);
    update();
}

void KOShortcutRecorder::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = 1;
    frame.state |= QStyle::State_Sunken;
    if (hasFocus())
        frame.state |= QStyle::State_HasFocus;
    painter.drawPrimitive(QStyle::PE_PanelLineEdit, frame);
    if (mRecording || !mValue || mValue->keyCode <= 0)
        painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(rect(), Qt::AlignCenter, displayText());
}
