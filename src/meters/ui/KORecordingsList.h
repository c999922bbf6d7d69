#pragma once

#include <QString>

class QWidget;

// Where the recorder windows put the files they have finished: the program's recordings list.
// The program connects its list at start-up (KORecorderController::setRecordingsList); until
// then finished files are only logged. Main thread.
class KORecordingsList {
public:
    virtual ~KORecordingsList() = default;
    // Adding a path already listed lists it once.
    virtual void addRecording(const QString& path) = 0;
    // A view of the list for the recorder window's settings face (owned by `parent`); null when
    // the list shows only in its own window.
    virtual QWidget* createPanel(QWidget* /*parent*/) { return nullptr; }
};
