#pragma once

#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KOFullscreenWindow;
class QWidget;

namespace koru::windownavigation {

// The instrument the next (step +1) or previous (step -1) command brings forward, given which
// instrument windows are visible and the index of the current instrument: the first visible one
// from the neighbour of the current index on, round the list. None when no window is visible.
// An index outside the list (instruments closed since) starts from the nearest end.
std::optional<std::size_t> instrumentToSwitchTo(const std::vector<bool>& visible,
                                                qint64 currentIndex, int step);

// Makes every visible snapping window key and brings it to front, in the order they were made,
// so the last of them ends up key.
void bringFrontAllWindows();

} // namespace koru::windownavigation

// The program's own full-screen mode: a dark backdrop over the whole screen of the main window,
// the program's windows in front of it. The backdrop stays below every other window, so the
// windows' own stacking is never changed and leaving restores it as it was. The window manager
// hides its panels for a full-screen window where it does so; that is not guaranteed.
class KOFullScreenMode {
public:
    // `mainWindow` gives the window whose screen is covered; `bringFrontAll` brings the program's
    // windows in front of the backdrop once it is shown.
    KOFullScreenMode(std::function<QWidget*()> mainWindow, std::function<void()> bringFrontAll);
    ~KOFullScreenMode();

    bool isInFullscreenMode() const { return mBackdrop != nullptr; }
    KOFullscreenWindow* fullscreenWindow() const { return mBackdrop.get(); }

    void toggleFullscreenMode();
    void enterFullScreenMode();
    void exitFullScreenMode();

    // The backdrop's frame: the screen of the window, the empty rectangle without one.
    static QRect backdropFrame(const QWidget* window);

private:
    std::function<QWidget*()> mMainWindow;
    std::function<void()> mBringFrontAll;
    std::unique_ptr<KOFullscreenWindow> mBackdrop;
};
