#pragma once

#include "framework/ColourWell.h"
#include "spl/ui/KOSplView.h"
#include "utility/ui/RangeSlider.h"

#include <QColor>
#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QVariantMap>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

class KOSplBigWindowController;
class QWidget;

// Who owns big windows and hears when one closes (the SPL meter).
class KOSplBigWindowDelegate {
public:
    virtual ~KOSplBigWindowDelegate() = default;
    virtual void bigWindowWillClose(KOSplBigWindowController* controller) = 0;
};

// One meter value in digits as large as the window allows, coloured by a warning and an alert
// level (strictly above each), the weighting and speed underneath and a bar gauge at the left.
class KOSplBigView : public KOSplViewBase {
    Q_OBJECT
    Q_PROPERTY(QColor warningColor READ warningColor WRITE setWarningColor NOTIFY colorsChanged)
    Q_PROPERTY(QColor alertColor READ alertColor WRITE setAlertColor NOTIFY colorsChanged)
public:
    static constexpr std::uint32_t kInst = 0x696e7374; // 'inst'
    static constexpr std::uint32_t kAvg = 0x61766720;  // 'avg '
    static constexpr std::uint32_t kPeak = 0x7065616b; // 'peak'
    static constexpr std::uint32_t kLeq = 0x4c455120;  // 'LEQ '

    explicit KOSplBigView(QWidget* parent = nullptr);

    std::uint32_t displayMode() const { return mDisplayMode; }
    void setDisplayMode(std::uint32_t mode);
    float alertLevel() const { return mAlertLevel; }
    void setAlertLevel(float level);
    float warningLevel() const { return mWarningLevel; }
    void setWarningLevel(float level);

    // Unset colours read as the trace blue, yellow and red.
    QColor normalColor() const;
    QColor warningColor() const;
    QColor alertColor() const;
    void setNormalColor(const QColor& colour);
    void setWarningColor(const QColor& colour);
    void setAlertColor(const QColor& colour);

    // The attributes a level is drawn with.
    VETextAttributes textDictionaryFoSpLevel(float level) const;
    double fontSize() const;
    // The digits' centre, counted from the bottom-left corner (y up).
    QPointF textCenter() const;
    // The shown value's text.
    QString displayedText() const;

signals:
    void colorsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutText();

    mutable std::mutex mColorLock; // leaf; guards the colours and the text attributes
    std::optional<QColor> mNormalColor;
    std::optional<QColor> mWarningColor;
    std::optional<QColor> mAlertColor;
    VETextAttributes mNormalAttributes;
    VETextAttributes mWarningAttributes;
    VETextAttributes mAlertAttributes;
    VETextAttributes mInfoAttributes;
    QPointF mTextCenter;
    double mFontSize = 0.0;
    std::uint32_t mDisplayMode = kInst;
    float mAlertLevel = 100.0f;
    float mWarningLevel = 85.0f;
};

// A big display window of one SPL meter: its mode and levels, saved in the meter's session.
// The view's hover panel holds the mode pop-up, a two-knob "Warning & Alert" slider (low knob the
// warning level, high knob the alert level, 50..130 dB), their read-outs ("##dB", editable) and
// the warning and alert colour wells.
// Main thread only, apart from setData (any thread, through the view).
class KOSplBigWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFrameKey = "InstrumentController.Window.Frame";
    static constexpr const char* kDisplayModeKey = "SPL.bigwindow.displayMode";
    static constexpr const char* kAlertLevelKey = "SPL.bigwindow.alertLevel";
    static constexpr const char* kWarningLevelKey = "SPL.bigwindow.warningLevel";
    static constexpr const char* kWarningColorKey = "SPL.bigwindow.warningColor";
    static constexpr const char* kAlertColorKey = "SPL.bigwindow.alertColor";
    static constexpr float kMinimumLevel = 50.0f;
    static constexpr float kMaximumLevel = 130.0f;

    KOSplBigWindowController();
    explicit KOSplBigWindowController(const QVariantMap& dictionary);
    ~KOSplBigWindowController() override;

    QVariantMap dictionaryRepresentation() const;

    QWidget* window() const { return mWindow.get(); }
    KOSplBigView* view() const { return mView; }

    void setData(const KOSPLData& data);
    void setInstrumentSpeed(std::uint32_t speed);
    void setWeightingType(std::uint32_t weighting);

    // 'LEQ ', 'avg ' and 'peak' are kept; anything else shows 'inst'.
    void setDisplayMode(std::uint32_t mode);
    std::uint32_t displayMode() const;
    // Clamped to 50..130 dB; the other level moves along so that warning <= alert.
    void setAlertLevel(float level);
    void setWarningLevel(float level);
    float alertLevel() const;
    float warningLevel() const;

    void toggleFullScreen();

    // The panel's controls.
    QComboBox* modePopUp() const { return mModePopUp; }
    koru::RangeSlider* levelSlider() const { return mLevelSlider; }
    QLineEdit* warningReadOut() const { return mWarningReadOut; }
    QLineEdit* alertReadOut() const { return mAlertReadOut; }
    koru::framework::ColourWell* warningColorWell() const { return mWarningColorWell; }
    koru::framework::ColourWell* alertColorWell() const { return mAlertColorWell; }
    // "##dB": the level rounded to whole decibels.
    static QString readOutText(float level);

    void setDelegate(KOSplBigWindowDelegate* delegate) { mDelegate = delegate; }
    KOSplBigWindowDelegate* delegate() const { return mDelegate; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void buildControlPanel();
    // Slider action: the warning level from the low knob, then the alert level from the high one.
    void setWarningAndAlert(double low, double high);
    // A read-out's text back to a level; a text that is no number restores the read-out.
    void readOutEdited(QLineEdit* field, bool alert);
    void showLevels();

    std::unique_ptr<QWidget> mWindow;
    QPointer<KOSplBigView> mView;
    QPointer<QComboBox> mModePopUp;
    QPointer<koru::RangeSlider> mLevelSlider;
    QPointer<QLineEdit> mWarningReadOut;
    QPointer<QLineEdit> mAlertReadOut;
    QPointer<koru::framework::ColourWell> mWarningColorWell;
    QPointer<koru::framework::ColourWell> mAlertColorWell;
    float mAlertLevel = 100.0f;
    float mWarningLevel = 85.0f;
    KOSplBigWindowDelegate* mDelegate = nullptr;
};
