#include "app/ui/KOWindowNavigation.h"

#include "framework/KOFullscreenWindow.h"
#include "framework/KOWindow.h"

#include <QScreen>
#include <QWidget>

namespace koru::windownavigation {

std::optional<std::size_t> instrumentToSwitchTo(const std::vector<bool>& visible,
                                                qint64 currentIndex, int step) {
    const auto count = static_cast<qint64>(visible.size());
    if (count == 0)
        return std::nullopt;
    qint64 index = 0;
    if (step > 0)
        index = currentIndex + 1 < count && currentIndex + 1 >= 0 ? currentIndex + 1 : 0;
    else
        index = currentIndex < 1 || currentIndex - 1 >= count ? count - 1 : currentIndex - 1;
    const qint64 direction = step > 0 ? 1 : -1;
    for (qint64 tries = 0; tries < count; ++tries) {
        if (visible[std::size_t(index)])
            return std::size_t(index);
        index = ((index + direction) % count + count) % count;
    }
    return std::nullopt;
}

void bringFrontAllWindows() {
    for (KOWindow* window : KOWindow::windowList()) {
        if (!window->isVisible())
            continue;
        window->raise();
        window->activateWindow();
    }
}

} // namespace koru::windownavigation

KOFullScreenMode::KOFullScreenMode(std::function<QWidget*()> mainWindow,
                                   std::function<void()> bringFrontAll)
    : mMainWindow(std::move(mainWindow)), mBringFrontAll(std::move(bringFrontAll)) {}

KOFullScreenMode::~KOFullScreenMode() = default;

QRect KOFullScreenMode::backdropFrame(const QWidget* window) {
    const QScreen* screen = window ? window->screen() : nullptr;
    return screen ? screen->geometry() : QRect();
}

void KOFullScreenMode::toggleFullscreenMode() {
    if (isInFullscreenMode())
        exitFullScreenMode();
    else
        enterFullScreenMode();
}

void KOFullScreenMode::enterFullScreenMode() {
    if (isInFullscreenMode())
        return;
    mBackdrop = std::make_unique<KOFullscreenWindow>();
    mBackdrop->setObjectName(QStringLiteral("fullscreenWindow"));
    mBackdrop->setGeometry(backdropFrame(mMainWindow ? mMainWindow() : nullptr));
    // Full screen rather than merely screen-sized: window managers hide their panels for it. Not
    // showFullScreen(), which would try to make the focus-less backdrop key.
    mBackdrop->setWindowState(Qt::WindowFullScreen);
    mBackdrop->show();
    if (mBringFrontAll)
        mBringFrontAll();
}

void KOFullScreenMode::exitFullScreenMode() {
    if (!mBackdrop)
        return;
    mBackdrop->close();
    mBackdrop.reset();
}
