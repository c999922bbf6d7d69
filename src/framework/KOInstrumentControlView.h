#pragma once

#include "KOInstrumentControlBackground.h"

#include <QRectF>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class ZOIconButton;

namespace koru {
class RangeSlider;
} // namespace koru

namespace koru::framework {
class ColourWell;
} // namespace koru::framework

// The overlay panel of an instrument view: a factory of small, uniformly styled controls that
// the instrument controllers fill with their settings. Frames are y-up inside the panel (origin
// at its bottom-left corner) and stay so when setHeight/setSize change the panel's height. An
// action is called with the control that changed, in the target's thread context; a control whose
// target goes away stops calling.
class KOInstrumentControlView : public KOInstrumentControlBackground {
    Q_OBJECT
public:
    using Action = std::function<void(QWidget* sender)>;
    static constexpr int kMiniHeight = 15;
    static constexpr double kBottomMargin = 15.0;
    static inline const QString kSettingsToolTip = QStringLiteral("Show Settings Panel");

    explicit KOInstrumentControlView(QWidget* parent = nullptr);

    // Continuous mini sliders; target and action are wired only when both are given.
    QSlider* addSliderWithFrame(const QRectF& frame, QObject* target, Action action);
    QSlider* addSliderWithFrame(const QRectF& frame, QObject* target, Action action,
                                const QString& label);
    koru::RangeSlider* addDoubleSliderWithFrame(const QRectF& frame, QObject* target,
                                                Action action);
    koru::RangeSlider* addDoubleSliderWithFrame(const QRectF& frame, QObject* target, Action action,
                                                const QString& label);
    // Pop-ups take the frame's position and width and are 15 high; the action fires on a
    // choice made by the user.
    QComboBox* addPopUpButtonWithFrame(const QRectF& frame, QObject* target, Action action);
    QComboBox* addPopUpButtonWithFrame(const QRectF& frame, QObject* target, Action action,
                                       const QString& label);
    // The menu's items (title, data) with the menu's title as label; no action.
    QComboBox* addPopUpButtonWithFrame(const QRectF& frame, const QMenu& menu);
    koru::framework::ColourWell* addColorWellWithFrame(const QRectF& frame, QObject* target,
                                                       Action action);
    // Shows and writes the object's property (a QColor); follows its notify signal.
    koru::framework::ColourWell* addColorWellWithFrame(const QRectF& frame, QObject* object,
                                                       const char* property);
    QLabel* addLabelAtRect(const QRectF& rect, const QString& text);
    QPushButton* addButtonWithFrame(const QRectF& frame, QObject* target, Action action);
    QCheckBox* addCheckBoxWithFrame(const QRectF& frame, QObject* target, Action action,
                                    const QString& label);
    QCheckBox* addCheckBoxWithFrame(const QRectF& frame, QObject* object, const char* property,
                                    const QString& label);
    // Calls the target's invokable showControlPanel(QWidget* sender).
    ZOIconButton* addSettingsButtonAtPoint(QPointF point, QObject* target);
    ZOIconButton* addRotationButtonAtPoint(QPointF point, QObject* target, Action action);

    // Only that part of the frame changes; the bottom-left corner stays.
    void setWidth(double width);
    void setHeight(double height);
    void setSize(QSizeF size);
    // Centred horizontally, 15 above the bottom of the parent.
    void placeInParent();

    static QFont miniFont();

protected:
    bool event(QEvent* event) override;

private:
    void place(QWidget* control, const QRectF& frame);
    void addLabelAbove(const QRectF& frame, double offset, const QString& text);
    void setFrameKeepingOrigin(QSizeF size);
};
