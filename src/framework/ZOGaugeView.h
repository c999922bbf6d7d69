#pragma once

#include "utility/VETextAttributes.h"

#include <QColor>
#include <QPainterPath>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <utility>
#include <vector>

class QPropertyAnimation;

// A narrow vertical bar gauge: a rounded outline and a column of thin segments rising with the
// level, optionally with value labels beside it. The level glides to a new value, quickly up and
// slowly down, and ignores changes under a twentieth of the range.
//
// The level and the animation live on the main thread; setFloatLevel may be called from any.
// Drawing is y-up, as the segments are laid out from the bottom.
class ZOGaugeView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double fillLevel READ fillLevel WRITE setFillLevel)
public:
    static constexpr double kSmallSystemFontSize = 11.0;
    static constexpr double kMinimumChange = 0.05;

    explicit ZOGaugeView(QWidget* parent = nullptr);

    // Any thread: queues the animation step on the main thread and returns.
    void setFloatLevel(float level);
    // Main thread: glides to the level, or leaves the gauge as it is when the change is too
    // small. Not-a-number is ignored; values off the scale go to the nearest bound.
    void startAnimationOnMainThread(double level);

    double fillLevel() const { return mValue; }
    void setFillLevel(double level);
    // At once, without animation.
    void setValue(double level);

    // Non-finite bounds are refused. Equal bounds leave the gauge empty until they differ.
    void setMinValue(float value);
    void setMaxValue(float value);
    float minValue() const { return float(mMinValue); }
    float maxValue() const { return float(mMaxValue); }

    void setLabelFormatString(const QString& format);
    QString labelFormatString() const { return mLabelFormatString; }
    void setShouldDrawLabels(bool draw);
    bool shouldDrawLabels() const { return mShouldDrawLabels; }
    void setNumberLabels(std::uint32_t count) { mNumberLabels = count; }
    std::uint32_t numberLabels() const { return mNumberLabels; }
    void setColor(const QColor& colour);
    QColor color() const { return mColor; }

    double timeToRise() const { return mTimeToRise; }
    double timeToFall() const { return mTimeToFall; }
    // The level's glide; stopped when no change is under way.
    QPropertyAnimation* levelAnimation() const { return mAnimation; }

    // Bottom edges (y-up) of the segments a frame of `height` shows at `fraction` of the range.
    static std::vector<double> segmentBottoms(double fraction, double height);
    // The texts and y-up centres of the labels, bottom first.
    std::vector<std::pair<double, QString>> labels() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void recomputeScale();
    double levelFraction() const;
    QString labelText(double value) const;

    double mMinValue = 0.0;
    double mMaxValue = 100.0;
    double mValue = 0.0;
    double k = 0.01;
    double d = 0.0;
    QString mLabelFormatString = QStringLiteral("%.f");
    QColor mColor;
    bool mShouldDrawLabels = false;
    std::uint32_t mNumberLabels = 2;
    VETextAttributes mTextDictionary_Small;
    double mTimeToRise = double(0.3f);
    double mTimeToFall = 3.0;
    QPainterPath mSurroundingPath;
    QPropertyAnimation* mAnimation = nullptr;
};
