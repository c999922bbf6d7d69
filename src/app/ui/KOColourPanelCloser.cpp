#include "app/ui/KOColourPanelCloser.h"

#include "app/KOPreferences.h"

#include <QColorDialog>
#include <QEvent>
#include <QTimer>

namespace {

class EventLoopScheduler : public KOColourPanelCloser::Scheduler {
public:
    EventLoopScheduler() {
        mTimer.setSingleShot(true);
        QObject::connect(&mTimer, &QTimer::timeout, [this] {
            // The action may start the timer again.
            const std::function<void()> action = std::move(mAction);
            mAction = nullptr;
            if (action)
                action();
        });
    }
    void start(std::chrono::milliseconds delay, std::function<void()> action) override {
        mAction = std::move(action);
        mTimer.start(delay);
    }
    void cancel() override {
        mTimer.stop();
        mAction = nullptr;
    }
    bool isPending() const override { return mTimer.isActive(); }

private:
    QTimer mTimer;
    std::function<void()> mAction;
};

} // namespace

std::unique_ptr<KOColourPanelCloser::Scheduler> KOColourPanelCloser::eventLoopScheduler() {
    return std::make_unique<EventLoopScheduler>();
}

KOColourPanelCloser::KOColourPanelCloser(KOPreferences& preferences,
                                         std::unique_ptr<Scheduler> scheduler)
    : mPreferences(preferences), mScheduler(std::move(scheduler)) {}

KOColourPanelCloser::~KOColourPanelCloser() {
    mScheduler->cancel();
    for (const QPointer<QColorDialog>& panel : mPanels)
        if (panel)
            panel->removeEventFilter(this);
}

void KOColourPanelCloser::watch(QColorDialog& panel) {
    for (const QPointer<QColorDialog>& known : mPanels)
        if (known == &panel)
            return;
    mPanels.append(&panel);
    connect(&panel, &QColorDialog::currentColorChanged, this,
            [this] { startColorPanelClosingTimer(); });
    panel.installEventFilter(this);
}

bool KOColourPanelCloser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show)
        startColorPanelClosingTimer();
    return QObject::eventFilter(watched, event);
}

void KOColourPanelCloser::startColorPanelClosingTimer() {
    if (!mPreferences.autoCloseColorPanel())
        return;
    mScheduler->start(std::chrono::seconds(mPreferences.autoCloseColorPanelTime()),
                      [this] { closeColorPanelTimer(); });
}

void KOColourPanelCloser::closeColorPanelTimer() {
    for (const QPointer<QColorDialog>& panel : mPanels)
        if (panel && panel->isVisible())
            panel->close();
}
