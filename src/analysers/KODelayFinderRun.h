#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class KODelayFinder;
class KODelayFinderData;
class ZOInputClient;

// One delay measurement of a real-time transfer measurement, from start to result: a
// KODelayFinder registered with the engine records a frame pair on the audio thread; the
// collector thread, in its collection step, computes the impulse response once the pair is
// complete (never the audio thread) and drops the finder; the result reaches the owner on the
// main thread, and the owner's answer is posted as the "delay finder finished" notification.
//
// Threads: start, setChannels and the destructor on the main thread; collect on the collector
// thread; status and isRunning from either. The run's own mutex is taken after the owner's lock
// and never held while calling out.
class KODelayFinderRun {
public:
    static constexpr const char* kWaitingStatus = "Waiting for Signal";
    static constexpr const char* kRecordingStatus = "Recording";
    static constexpr const char* kNotificationFormat = "%1: %2";
    static constexpr const char* kComputedDelayLog = "computed delay: {} smp";

    // Adds a finder to the engine (the finder takes itself out when it goes).
    using Registrar = std::function<void(ZOInputClient*)>;
    // Main thread: the owner takes the result (names it, keeps it, applies its delay) and
    // answers the notification's text; an empty text posts nothing.
    using Finished = std::function<QString(const std::shared_ptr<KODelayFinderData>&)>;
    using Notifier = std::function<void(const QString& text)>;

    // Results are delivered through `context` and dropped once it is gone. Without a registrar
    // the finder goes to the program's audio device; without a notifier the text goes to the
    // program's notification centre.
    KODelayFinderRun(QObject* context, Finished finished, Registrar registrar = {},
                     Notifier notifier = {});
    ~KODelayFinderRun();
    KODelayFinderRun(const KODelayFinderRun&) = delete;
    KODelayFinderRun& operator=(const KODelayFinderRun&) = delete;

    // A new finder on these channels; false (and nothing changes) while one runs.
    bool start(std::uint32_t sourceChannel, std::uint32_t responseChannel);
    // A running finder follows a channel change.
    void setChannels(std::uint32_t sourceChannel, std::uint32_t responseChannel);
    bool isRunning() const;
    // kWaitingStatus, kRecordingStatus, or "" when no finder waits or records.
    QString status() const;
    // Collector thread: true when a complete frame pair was turned into a result just now.
    bool collect();

    // "<title>: <delay>", the notification text of a finished measurement.
    static QString notificationText(const QString& title, const QString& delayText);

private:
    QPointer<QObject> mContext;
    Finished mFinished;
    Registrar mRegistrar;
    Notifier mNotifier;
    mutable std::mutex mMutex; // guards mFinder
    std::unique_ptr<KODelayFinder> mFinder;
};
