#include "framework/ColourWell.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/ZOIconButton.h"
#include "utility/ui/RangeSlider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

using koru::RangeSlider;
using koru::framework::ColourWell;

// A model object with the properties the bound controls follow, and a settings slot.
class Settings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QColor colour MEMBER mColour NOTIFY colourChanged)
    Q_PROPERTY(bool peakHold MEMBER mPeakHold NOTIFY peakHoldChanged)
public:
    QColor mColour = Qt::red;
    bool mPeakHold = false;
    QWidget* panelSender = nullptr;
    Q_INVOKABLE void showControlPanel(QWidget* sender) { panelSender = sender; }
signals:
    void colourChanged();
    void peakHoldChanged();
};

class ControlViewTest : public testing::Test {
protected:
    ControlViewTest() { panel.resize(300, 100); }
    KOInstrumentControlView panel;
    Settings settings;
    QList<QWidget*> senders;
    KOInstrumentControlView::Action record = [this](QWidget* sender) { senders.append(sender); };
};

TEST_F(ControlViewTest, SlidersNeedBothTargetAndAction) {
    QSlider* unwired = panel.addSliderWithFrame(QRectF(10, 10, 100, 15), &settings, {});
    QSlider* noTarget = panel.addSliderWithFrame(QRectF(10, 10, 100, 15), nullptr, record);
    QSlider* wired = panel.addSliderWithFrame(QRectF(10, 10, 100, 15), &settings, record);
    unwired->setValue(50);
    noTarget->setValue(50);
    wired->setValue(50);
    wired->setValue(60); // continuous
    EXPECT_EQ(senders, (QList<QWidget*>{wired, wired}));

    RangeSlider* range = panel.addDoubleSliderWithFrame(QRectF(10, 40, 100, 15), nullptr, record);
    range->setValues(0.2, 0.8);
    EXPECT_EQ(senders.size(), 2);
}

TEST_F(ControlViewTest, PopUpsGetWhatWasPassed) {
    QComboBox* popUp = panel.addPopUpButtonWithFrame(QRectF(10, 10, 80, 40), nullptr, record);
    popUp->addItems({"Cont", "Fill"});
    EXPECT_EQ(popUp->height(), 15);
    emit popUp->activated(1);
    EXPECT_EQ(senders, QList<QWidget*>{popUp});

    QMenu menu("Octave");
    menu.addAction("1/3")->setData(3);
    menu.addSeparator();
    menu.addAction("1/6")->setData(6);
    QComboBox* fromMenu = panel.addPopUpButtonWithFrame(QRectF(10, 30, 80, 15), menu);
    ASSERT_EQ(fromMenu->count(), 2);
    EXPECT_EQ(fromMenu->itemData(1).toInt(), 6);
    const auto labels = panel.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front()->text(), "Octave");
    // label 17 above the pop-up, y-up: its bottom edge at y 47 of the 100-high panel
    EXPECT_EQ(labels.front()->geometry(), QRect(10, 100 - 47 - 15, 80, 15));
}

TEST_F(ControlViewTest, FramesAreYUpAndKeepTheirDistanceFromTheBottom) {
    QSlider* slider = panel.addSliderWithFrame(QRectF(10, 5, 100, 15), &settings, record, "Speed");
    EXPECT_EQ(slider->geometry(), QRect(10, 100 - 5 - 15, 100, 15));
    panel.setHeight(150);
    EXPECT_EQ(slider->geometry(), QRect(10, 150 - 5 - 15, 100, 15));
    const QLabel* label = panel.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry().bottom() + 1, 150 - 20); // 15 above the slider's origin
}

TEST_F(ControlViewTest, PanelCentresItselfFifteenAboveTheBottom) {
    QWidget view;
    view.resize(400, 300);
    panel.resize(200, 60);
    panel.setParent(&view);
    EXPECT_EQ(panel.geometry(), QRect(100, 300 - 15 - 60, 200, 60));
    panel.setWidth(100);
    panel.setHeight(80); // bottom-left corner stays
    EXPECT_EQ(panel.geometry(), QRect(100, 300 - 15 - 80, 100, 80));
    panel.setParent(nullptr); // the fixture owns it
}

TEST_F(ControlViewTest, BoundControlsFollowTheirProperty) {
    ColourWell* well = panel.addColorWellWithFrame(QRectF(10, 10, 30, 15), &settings, "colour");
    EXPECT_EQ(well->color(), QColor(Qt::red));
    settings.setProperty("colour", QColor(Qt::green));
    EXPECT_EQ(well->color(), QColor(Qt::green));
    emit well->colorChanged(QColor(Qt::blue));
    EXPECT_EQ(settings.mColour, QColor(Qt::blue));

    QCheckBox* box =
        panel.addCheckBoxWithFrame(QRectF(10, 30, 100, 15), &settings, "peakHold", "Peak Hold");
    EXPECT_FALSE(box->isChecked());
    box->setChecked(true);
    EXPECT_TRUE(settings.mPeakHold);
    settings.setProperty("peakHold", false);
    EXPECT_FALSE(box->isChecked());
}

TEST_F(ControlViewTest, SettingsButtonAsksTheTargetForItsPanel) {
    ZOIconButton* button = panel.addSettingsButtonAtPoint(QPointF(270, 5), &settings);
    EXPECT_EQ(button->toolTip(), "Show Settings Panel");
    EXPECT_EQ(button->size(), QSize(24, 24));
    EXPECT_EQ(button->iconSize(), QSize(11, 11));
    button->click();
    EXPECT_EQ(settings.panelSender, button);

    ZOIconButton* rotate = panel.addRotationButtonAtPoint(QPointF(240, 5), &settings, record);
    rotate->click();
    EXPECT_EQ(senders, QList<QWidget*>{rotate});
}

TEST_F(ControlViewTest, ActionsStopWithTheirTarget) {
    auto target = std::make_unique<QObject>();
    QSlider* slider = panel.addSliderWithFrame(QRectF(10, 10, 100, 15), target.get(), record);
    target.reset();
    slider->setValue(30);
    EXPECT_TRUE(senders.isEmpty());
}

TEST_F(ControlViewTest, LabelsAreQuietGrey) {
    QLabel* label = panel.addLabelAtRect(QRectF(0, 0, 50, 15), "dB");
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor::fromRgbF(0.75f, 0.75f, 0.75f));
    EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_FALSE(label->autoFillBackground());
}

} // namespace

#include "KOInstrumentControlView_test.moc"
