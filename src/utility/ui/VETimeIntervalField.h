#pragma once

#include "utility/VEIntervalFormatter.h"

#include <QLineEdit>
#include <QVariant>

#include <cstdint>

// A field that shows and edits a signed duration in whole seconds as [-]HH:MM:SS: the field, its
// cell and its field editor in one. It is never edited as free text: a component (hours, minutes
// or seconds) is always selected as a whole, digits fill it (two digits fill it and move on),
// the arrow keys step it, Backspace clears it, Delete clears all, Tab and Back-tab move between
// the components without leaving the field. The value is copied and pasted as the clipboard
// format "Interval" (the number of seconds as text).
//
// Every edit by the user is written at once through the field's "value" binding (ValueBinding)
// and announced by intervalEdited; programmatic changes only by timeIntervalChanged. There is no
// edit to commit or abort, so focus moves freely.
class VETimeIntervalField : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(
        double timeInterval READ timeInterval WRITE setTimeInterval NOTIFY timeIntervalChanged)
public:
    static inline const QString kPasteboardType = QStringLiteral("Interval");
    static inline const QString kMimeType = QStringLiteral("application/x-Interval");
    static constexpr int kHours = 0;
    static constexpr int kMinutes = 1;
    static constexpr int kSeconds = 2;

    explicit VETimeIntervalField(QWidget* parent = nullptr);

    double timeInterval() const { return mTimeInterval; }
    // Shows the value; a value that is no number is ignored.
    void setTimeInterval(double seconds);
    // Accepted only when the formatter reads it; otherwise the field holds no value (the text
    // and the stored value stay).
    void setStringValue(const QString& text);
    QString stringValue() const { return mFormatter.stringForObjectValue(mTimeInterval); }
    // A number sets the value; anything else leaves the field without a value.
    void setObjectValue(const QVariant& value);
    // The number while the field holds a value, else nothing.
    QVariant objectValue() const;
    bool hasValue() const { return mHasValue; }
    // A number goes to setTimeInterval, a text to setStringValue; anything else is ignored.
    void setValue(const QVariant& value);
    const VEIntervalFormatter& formatter() const { return mFormatter; }

    // 0 hours, 1 minutes, 2 seconds: the component holding the selection's start (0 when it
    // starts on a colon or at the end).
    int selectedComponent() const;
    void setSelectedComponent(int component);
    // Seconds wrap to hours and back; both forget the digits typed so far.
    void moveForward();
    void moveBackward();
    // Where a component sits in the text: {start, length}.
    std::pair<int, int> componentRange(int component) const;

    void copyInterval() const;
    // Applies the clipboard's interval as an edit; answers whether it held one.
    bool pasteInterval();
    static bool clipboardHoldsInterval();

signals:
    void timeIntervalChanged(double seconds);
    // After each edit by the user.
    void intervalEdited(double seconds);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void applyComponents(const VETimeIntervalComponents& components, int component);
    void edit(double seconds);
    void propagateIntervalValue() const;
    void selectComponentAt(int position);

    double mTimeInterval = 0.0;
    std::int64_t mNumEntered = 0;
    bool mHasValue = true;
    VEIntervalFormatter mFormatter;
};
