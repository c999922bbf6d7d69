#pragma once

#include "inputpatch/ui/KOPatchViewDelegate.h"
#include "platform/notifications/NotificationCenter.h"

#include <QWidget>

class KOAudioDevice;
class KOPatchMatrix;
class KOInputPatchView;
class QCheckBox;
class QPushButton;
class QScrollArea;

namespace koru::platform {
class UserDefaults;
}

// The Input Patch window: the audio device's input patch in a patch view, "Clear Patch" and
// "Clear Aliases", and whether the mouse may patch (a user default, on when never set). It
// follows the device: after every audio-property change it shows the device's current matrix,
// fits the label width to the names and resizes itself by what the grid needs, keeping its
// bottom-left corner, within its minimum and maximum size and the screen; a grid larger than
// that scrolls. Keys reach the patch view wherever the window's focus is. Main thread only.
class KOInputPatchController : public QWidget, public KOPatchViewDelegate {
    Q_OBJECT
public:
    static constexpr const char* kCanPatchWithMouseDefault =
        "KORU.Defaults.PatchView.CanPatchWithMouse";
    static constexpr const char* kWindowTitle = "Input Patch";

    KOInputPatchController(KOAudioDevice& device, koru::platform::UserDefaults& defaults,
                           QWidget* parent = nullptr);
    ~KOInputPatchController() override;

    void showWindow();
    void syncWithCurrentInputPatchMatrix();
    void clearPatch();
    void clearAliases();

    bool canPatchWithMouse() const override { return mCanPatchWithMouse; }
    // Stores the choice as the user default too.
    void setCanPatchWithMouse(bool can);

    KOInputPatchView* patchView() const { return mPatchView; }
    QScrollArea* scrollArea() const { return mScrollArea; }
    QCheckBox* canPatchWithMouseBox() const { return mMouseBox; }
    QPushButton* clearPatchButton() const { return mClearPatchButton; }
    QPushButton* clearAliasesButton() const { return mClearAliasesButton; }

    // Grow or shrink within the size limits and the screen, keeping the bottom-left corner where
    // it is unless the window would leave the screen.
    void adjustWidth(int dw);
    void adjustHeight(int dh);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fitWindowToView();
    // The device's matrix; the view is moved to it first when it shows another one.
    void withCurrentMatrix(const char* what, void (*edit)(KOPatchMatrix&));
    // The screen's work area less the window's decorations; invalid without a screen.
    QRect screenArea() const;

    KOAudioDevice& mDevice;
    koru::platform::UserDefaults& mDefaults;
    bool mCanPatchWithMouse = true;
    KOInputPatchView* mPatchView = nullptr;
    QScrollArea* mScrollArea = nullptr;
    QCheckBox* mMouseBox = nullptr;
    QPushButton* mClearPatchButton = nullptr;
    QPushButton* mClearAliasesButton = nullptr;
    koru::platform::ObserverToken mReloadObserver;
};
