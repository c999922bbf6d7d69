#include "inputpatch/ui/KOInputPatchController.h"

#include "engine/KOAudioDevice.h"
#include "inputpatch/ui/KOInputPatchView.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/MainThread.h"
#include "platform/log/Log.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

} // namespace

KOInputPatchController::KOInputPatchController(KOAudioDevice& device,
                                               koru::platform::UserDefaults& defaults,
                                               QWidget* parent)
    : QWidget(parent, Qt::Window), mDevice(device), mDefaults(defaults) {
    setWindowTitle(tr(kWindowTitle));

    mPatchView = new KOInputPatchView;
    mPatchView->setDelegate(this);
    mScrollArea = new QScrollArea(this);
    mScrollArea->setFrameShape(QFrame::NoFrame);
    mScrollArea->setWidgetResizable(true);
    mScrollArea->setWidget(mPatchView);
    mScrollArea->setFocusProxy(mPatchView);
    connect(mPatchView, &KOPatchView::selectionMoved, this, [this](const QRect& cell) {
        mScrollArea->ensureVisible(cell.center().x(), cell.center().y(), cell.width(),
                                   cell.height());
    });

    // The patch view keeps the keyboard: Space and Return patch rather than press a button.
    mMouseBox = new QCheckBox(tr("Patch with Mouse"), this);
    mMouseBox->setFocusPolicy(Qt::NoFocus);
    connect(mMouseBox, &QCheckBox::toggled, this, &KOInputPatchController::setCanPatchWithMouse);
    mClearAliasesButton = new QPushButton(tr("Clear Aliases"), this);
    mClearAliasesButton->setFocusPolicy(Qt::NoFocus);
    connect(mClearAliasesButton, &QPushButton::clicked, this,
            &KOInputPatchController::clearAliases);
    mClearPatchButton = new QPushButton(tr("Clear Patch"), this);
    mClearPatchButton->setFocusPolicy(Qt::NoFocus);
    connect(mClearPatchButton, &QPushButton::clicked, this, &KOInputPatchController::clearPatch);

    auto* controls = new QHBoxLayout;
    controls->addWidget(mMouseBox);
    controls->addStretch();
    controls->addWidget(mClearAliasesButton);
    controls->addWidget(mClearPatchButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mScrollArea, 1);
    layout->addLayout(controls);
    setFocusProxy(mPatchView);

    const QString key = text(kCanPatchWithMouseDefault);
    setCanPatchWithMouse(mDefaults.objectForKey(key).isValid() ? mDefaults.boolForKey(key) : true);

    mReloadObserver =
        koru::platform::observeNotification(text(KOAudioDevice::kReloadAudioPropNotification),
                                            nullptr, [this](const koru::platform::Notification&) {
                                                if (QThread::currentThread() == thread())
                                                    syncWithCurrentInputPatchMatrix();
                                                else
                                                    koru::platform::postToMainThread(this, [this] {
                                                        syncWithCurrentInputPatchMatrix();
                                                    });
                                            });
    syncWithCurrentInputPatchMatrix();
}

KOInputPatchController::~KOInputPatchController() {
    mReloadObserver.reset();
}

void KOInputPatchController::showWindow() {
    show();
    raise();
    activateWindow();
    mPatchView->setFocus(Qt::OtherFocusReason);
}

void KOInputPatchController::setCanPatchWithMouse(bool can) {
    mCanPatchWithMouse = can;
    {
        const QSignalBlocker quiet(mMouseBox);
        mMouseBox->setChecked(can);
    }
    mDefaults.setBool(text(kCanPatchWithMouseDefault), can);
}

void KOInputPatchController::syncWithCurrentInputPatchMatrix() {
    std::shared_ptr<KOPatchMatrix> matrix;
    try {
        matrix = mDevice.inputPatchMatrix();
    } catch (const std::exception& error) {
        koru::log::warn("Input patch window: no patch to show ({})", error.what());
    }
    mPatchView->setPatchMatrix(matrix);
    try {
        mPatchView->setLabelWidth(mPatchView->idealLabelWidth());
    } catch (const std::exception& error) {
        koru::log::warn("Input patch window: the labels could not be measured ({})", error.what());
    }
    fitWindowToView();
}

void KOInputPatchController::fitWindowToView() {
    QLayout* own = layout();
    own->activate();
    // What the scroll area shows without scroll bars.
    const QSize wanted = mPatchView->preferredSize();
    adjustHeight(wanted.height() - mScrollArea->maximumViewportSize().height());
    own->activate();
    int dw = wanted.width() - mScrollArea->maximumViewportSize().width();
    // A grid taller than the window could grow scrolls; its scroll bar needs room too.
    if (mScrollArea->maximumViewportSize().height() < wanted.height())
        dw += mScrollArea->verticalScrollBar()->sizeHint().width();
    adjustWidth(dw);
}

QRect KOInputPatchController::screenArea() const {
    QScreen* shownOn = screen();
    if (!shownOn)
        return {};
    // The frame's decorations stay on the screen too.
    return shownOn->availableGeometry().marginsRemoved(QMargins(
        geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
        frameGeometry().right() - geometry().right(),
        frameGeometry().bottom() - geometry().bottom()));
}

void KOInputPatchController::adjustHeight(int dh) {
    const QRect area = screenArea();
    const int largest = area.isValid() ? std::min(maximumHeight(), area.height()) : maximumHeight();
    QRect frame = geometry();
    const int height =
        std::clamp(frame.height() + dh, minimumHeight(), std::max(minimumHeight(), largest));
    frame.setTop(frame.bottom() + 1 - height);
    // Grown past the top of the screen, it comes down rather than lose its title bar.
    if (area.isValid() && frame.top() < area.top())
        frame.moveTop(area.top());
    setGeometry(frame);
}

void KOInputPatchController::adjustWidth(int dw) {
    const QRect area = screenArea();
    const int largest = area.isValid() ? std::min(maximumWidth(), area.width()) : maximumWidth();
    QRect frame = geometry();
    const int width =
        std::clamp(frame.width() + dw, minimumWidth(), std::max(minimumWidth(), largest));
    frame.setWidth(width);
    if (area.isValid() && frame.right() > area.right())
        frame.moveRight(std::max(area.right(), area.left() + width - 1));
    setGeometry(frame);
}

void KOInputPatchController::withCurrentMatrix(const char* what, void (*edit)(KOPatchMatrix&)) {
    try {
        const std::shared_ptr<KOPatchMatrix> matrix = mDevice.inputPatchMatrix();
        if (matrix != mPatchView->patchMatrix())
            syncWithCurrentInputPatchMatrix();
        edit(*matrix);
    } catch (const std::exception& error) {
        koru::log::warn("Input patch window: {} failed ({})", what, error.what());
    }
}

void KOInputPatchController::clearPatch() {
    withCurrentMatrix("Clear Patch", [](KOPatchMatrix& matrix) { matrix.make1by1patch(); });
}

void KOInputPatchController::clearAliases() {
    withCurrentMatrix("Clear Aliases", [](KOPatchMatrix& matrix) { matrix.clearAllAlias(); });
}

void KOInputPatchController::keyPressEvent(QKeyEvent* event) {
    if (mPatchView->keyDown(*event))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}
