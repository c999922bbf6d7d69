#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

class KOPreferences;
class QColorDialog;

// Closes the shared colour panels a few seconds (the "AutoCloseColorPanelTime" preference) after
// the user last changed a colour or worked in a panel; every change pushes the closing further
// out. With "AutoCloseColorPanel" off nothing new is scheduled, but a closing already pending
// still happens once. Main thread only.
class KOColourPanelCloser : public QObject {
    Q_OBJECT
public:
    // A one-shot timer; the program's runs on the event loop, a test's when the test says so.
    class Scheduler {
    public:
        virtual ~Scheduler() = default;
        // Replaces any pending action.
        virtual void start(std::chrono::milliseconds delay, std::function<void()> action) = 0;
        virtual void cancel() = 0;
        virtual bool isPending() const = 0;
    };
    static std::unique_ptr<Scheduler> eventLoopScheduler();

    explicit KOColourPanelCloser(KOPreferences& preferences,
                                 std::unique_ptr<Scheduler> scheduler = eventLoopScheduler());
    ~KOColourPanelCloser() override;

    // Watches a panel: its colour changes and its showing restart the closing timer.
    void watch(QColorDialog& panel);

    void startColorPanelClosingTimer();
    // The timer's action: closes every watched panel.
    void closeColorPanelTimer();
    bool isPending() const { return mScheduler->isPending(); }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    KOPreferences& mPreferences;
    std::unique_ptr<Scheduler> mScheduler;
    QList<QPointer<QColorDialog>> mPanels;
};
