#pragma once

#include <QDialog>

// Base of the program's small modal dialogs: runModal() centres the dialog over its parent (or
// the screen) and answers 1 when ok() ended it, 0 when cancel() did.
class ZOModalWindowController : public QDialog {
    Q_OBJECT
public:
    explicit ZOModalWindowController(QWidget* parent = nullptr);

    int runModal();

public slots:
    void ok() { done(1); }
    void cancel() { done(0); }
    // Escape and the window's close button cancel.
    void reject() override { cancel(); }
};
