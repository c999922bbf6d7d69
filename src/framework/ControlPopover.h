#pragma once

#include <QFrame>
#include <QPointer>

namespace koru::framework {

// The settings popover of an instrument window: a frameless tool window beside the view it was
// opened from. It closes on Escape and when the user presses anywhere else in its own
// instrument window (the view that opened it and the toggle button excepted); other
// windows leave it open.
class ControlPopover : public QFrame {
    Q_OBJECT
public:
    // `owner`: the instrument window; the popover lives as long as it does.
    explicit ControlPopover(QWidget* owner);
    ~ControlPopover() override;

    // The popover takes the content over.
    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return m_content; }
    // Left edge at the view's right edge, centred on it vertically.
    void showRelativeToView(QWidget* view);
    QWidget* anchorView() const { return m_anchor; }
    // A press on this button never closes the popover: the button toggles it itself.
    void setToggleButton(QWidget* button) { m_toggleButton = button; }

signals:
    void visibilityChanged(bool visible);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool pressClosesPopover(QObject* watched) const;

    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_content;
    QPointer<QWidget> m_anchor;
    QPointer<QWidget> m_toggleButton;
};

} // namespace koru::framework
