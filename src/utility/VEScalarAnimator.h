#pragma once

#include <QAbstractAnimation>
#include <QEasingCurve>

#include <functional>
#include <mutex>

// Drives a number from a start to an end value over a duration, calling a block with each step;
// start() returns at once and the steps come from the event loop of the animator's thread.
//
// The block gets values that move linearly with time (10 -> 20 gives 15 halfway), as the
// animation's progress is the plain time fraction; the ease-in-out curve the animation carries
// shapes only currentValue(), for a caller that wants the eased position.
class VEScalarAnimator : public QAbstractAnimation {
    Q_OBJECT
public:
    using Block = std::function<void(double value)>;

    // Negative or NaN seconds count as 0, which ends at the end value on the first step.
    VEScalarAnimator(double start, double end, double durationSeconds, Block block,
                     QObject* parent = nullptr);

    int duration() const override { return m_durationMs; }

    // Records the progress (clamped to 0..1, NaN as 0) and calls the block with
    // start + progress × (end − start).
    void setCurrentProgress(float progress);
    float currentProgress() const { return m_progress; }
    // The eased position at the current progress.
    double currentValue() const;

    double startValue() const { return m_start; }
    double endValue() const { return m_end; }
    const QEasingCurve& easingCurve() const { return m_curve; }

    // May be swapped from any thread; a step already under way keeps the block it started with.
    Block block() const;
    void setBlock(Block block);

protected:
    void updateCurrentTime(int currentTime) override;

private:
    double m_start;
    double m_end;
    int m_durationMs;
    float m_progress = 0.0F;
    QEasingCurve m_curve;
    mutable std::mutex m_blockMutex; // guards m_block
    Block m_block;
};
