#pragma once

#include "meters/KORecordingsStore.h"
#include "meters/ui/KORecordingsModel.h"

#include <QObject>

#include <memory>

class KORecordingsView;
class QWidget;

namespace koru::platform {
class UserDefaults;
}

// The process's one recordings list and its window. The recorder hands every finished
// recording to addRecording(); the show-recordings command calls showWindow(). With the user
// default "KORU.Recorder.OpenRecordingsWindow" set, adding a recording brings the window up.
// Main thread only.
class KORecordingsWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kOpenWindowKey = "KORU.Recorder.OpenRecordingsWindow";

    // The single instance on the standard store and user defaults, made on first use.
    static KORecordingsWindowController& sharedController();

    // A controller on its own store file (tests).
    KORecordingsWindowController(const QString& storePath, koru::platform::UserDefaults& defaults);
    ~KORecordingsWindowController() override;

    KORecordingsStore& store() { return mStore; }
    // The one model of the list: every view of it (this window's, the recorder window's) is
    // built on it, so they all show each change.
    KORecordingsModel& model() { return mModel; }
    // The window and its list, made on first use.
    QWidget* window();
    KORecordingsView* view();

    void showWindow();
    bool addRecording(const QString& path);

private:
    KORecordingsStore mStore;
    KORecordingsModel mModel;
    koru::platform::UserDefaults& mDefaults;
    std::unique_ptr<QWidget> mWindow;
    KORecordingsView* mView = nullptr; // owned by the window
};
