#pragma once

class QToolButton;
class QWidget;

// The borderless buttons of the instrument windows' toolbars.
class KOWindowButtonAdditions {
public:
    static constexpr int kIconButtonWidth = 27;
    static constexpr int kIconButtonHeight = 25;
    static constexpr int kPopUpButtonWidth = 32;

    // 27 × 25, no text; momentary until the caller makes it checkable.
    static QToolButton* windowIconButton(QWidget* parent = nullptr);
    // 32 × 25 pull-down opening its (initially empty, untitled) menu at once.
    static QToolButton* windowIconPopUpButton(QWidget* parent = nullptr);
};
