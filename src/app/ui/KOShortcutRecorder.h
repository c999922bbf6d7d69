#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

class QKeyEvent;

// A keyboard shortcut as the workspaces store it: the Qt key of the unshifted key ("1" for
// Ctrl+Shift+1 on a US keyboard, which Qt reports as '!'), the Qt modifier mask, and the key's
// characters without modifiers, which the menus turn back into a shortcut. Key code -1 means
// "no key".
struct KORecordedShortcut {
    std::int32_t keyCode = -1;
    quint64 modifierFlags = 0;
    QString characters;

    bool operator==(const KORecordedShortcut&) const = default;

    // The shortcut a key press records, letters read lower case; none for a lone modifier key.
    // Under X the key is looked up in the server's keyboard map; elsewhere a shifted symbol goes
    // back to its key as on a US keyboard.
    static std::optional<KORecordedShortcut> fromKeyEvent(const QKeyEvent& event);
    // `keyIsUnshifted`: the key was read from the keyboard map, so no symbol is taken back.
    static std::optional<KORecordedShortcut> fromKeyEvent(int key, Qt::KeyboardModifiers modifiers,
                                                          bool keyIsUnshifted = false);
    // The unshifted key of a US-layout shifted symbol ('!' -> '1', '_' -> '-'); other keys as
    // they are.
    static int unshiftedKey(int key);
    // The menu shortcuts for stored key characters and modifiers: the key itself, and with Shift
    // held also the symbol a US keyboard reports for it, so the shortcut fires on either report.
    static QList<QKeySequence> menuShortcuts(const QString& characters, quint64 modifierFlags);
    // The readable form of modifiers and key code ("Ctrl+Shift+1"); a key code of 0 or below
    // shows the modifiers alone.
    static QString readableString(quint64 modifierFlags, std::int32_t keyCode);
};

// The shortcut field of the workspace windows: click it (or give it the focus) and press a
// shortcut with Ctrl, Alt or Meta. Escape ends recording without a change; Backspace or Delete
// without modifiers clears the shortcut. Every completed recording reports recordingEnded.
class KOShortcutRecorder : public QWidget {
    Q_OBJECT
public:
    explicit KOShortcutRecorder(QWidget* parent = nullptr);

    // None: nothing recorded.
    const std::optional<KORecordedShortcut>& value() const { return mValue; }
    void setValue(const std::optional<KORecordedShortcut>& value);

    // The readings the workspace windows take: key code 0 and flags 0 when nothing is recorded;
    // characters empty for key code -1, none when nothing is recorded.
    std::int32_t keyCode() const { return mValue ? mValue->keyCode : 0; }
    quint64 modifierFlags() const { return mValue ? mValue->modifierFlags : 0; }
    std::optional<QString> keyChars() const;

    bool isRecording() const { return mRecording; }
    QString displayText() const;

    QSize sizeHint() const override;

signals:
    void recordingEnded();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void finishRecording(const std::optional<KORecordedShortcut>& value);

    std::optional<KORecordedShortcut> mValue;
    bool mRecording = false;
};
