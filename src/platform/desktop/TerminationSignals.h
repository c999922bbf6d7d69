#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace koru::platform {

// Turns SIGINT and SIGTERM into a signal in the event loop, so that Ctrl+C in a terminal or a
// session manager's kill runs the program's normal quit path and the automatic session is still
// written. The handler only writes the signal's number into a pipe; everything else happens on
// the thread that owns the object. One may exist at a time; destroying it puts the default
// handlers back.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up (logged); the signals then end
    // the program as they would without us.
    bool isInstalled() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace koru::platform
