#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QString>
#include <QtGlobal>

class KODelayFinderData;
class KODelayFinderResults;

// What the delay-finder window needs of the real-time transfer measurement it belongs to. All
// delays are in samples (qint64, as the measurement's own properties). The measurement reads its
// source sourceDelay() + delayOffset() samples behind the response: the offset is a reference the
// shown delay counts from. Main thread only; the measurement outlives its window.
class KODelayFinderMeasurement {
public:
    using Completion =
        std::function<void(KODelayFinderMeasurement&, const std::shared_ptr<KODelayFinderData>&)>;

    virtual ~KODelayFinderMeasurement() = default;

    virtual QString delayFinderTitle() const = 0;
    // May throw while the measurement cannot answer; the window then reads 0.
    virtual qint64 sourceDelay() const = 0;
    // Makes the total delay delayOffset() + d.
    virtual void setSourceDelay(qint64 d) = 0;
    virtual qint64 delayOffset() const = 0;
    // Keeps the total delay: the shown delay then counts from the new offset.
    virtual void setDelayOffset(qint64 offset) = 0;
    // The results list; it announces every change of the two delays above.
    virtual KODelayFinderResults& delayFinderResults() = 0;
    // Starts a new delay measurement unless one runs; `completion` is called on the main thread
    // with the new result once it is in the list.
    virtual void computeDelayWithCompletionBlock(Completion completion) = 0;
};
