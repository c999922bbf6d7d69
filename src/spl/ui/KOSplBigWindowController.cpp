#include "spl/ui/KOSplBigWindowController.h"

#include "framework/ColourWell.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOInstrumentControlView.h"
#include "utility/KOString.h"
#include "utility/VEString.h"
#include "utility/ZODictionary.h"
#include "utility/ui/RangeSlider.h"
#include "utility/ui/WindowFrame.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

float clampLevel(float level) {
    if (std::isnan(level))
        return KOSplBigWindowController::kMinimumLevel;
    return std::clamp(level, KOSplBigWindowController::kMinimumLevel,
                      KOSplBigWindowController::kMaximumLevel);
}

QVariantMap colorDictionary(const QColor& colour) {
    return {{QStringLiteral("red"), colour.redF()},
            {QStringLiteral("green"), colour.greenF()},
            {QStringLiteral("blue"), colour.blueF()},
            {QStringLiteral("alpha"), colour.alphaF()}};
}

std::optional<QColor> colorFrom(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap d = value.toMap();
    const auto part = [&d](const char* key) {
        return std::clamp(ZODictionary::floatValueForKey(d, QString::fromLatin1(key), 1.0f), 0.0f,
                          1.0f);
    };
    return QColor::fromRgbF(part("red"), part("green"), part("blue"), part("alpha"));
}

} // namespace

// --- View
// -----------------------------------------------------------------------------------------

KOSplBigView::KOSplBigView(QWidget* parent) : KOSplViewBase(parent) {
    mGaugeView = new ZOGaugeView(this);
    mGaugeView->setMinValue(40.0f);
    mGaugeView->setMaxValue(120.0f);
    mGaugeView->setNumberLabels(4);
    mGaugeView->setShouldDrawLabels(true);
    mInfoAttributes = ZODictionary::fontAttributesDictionaryForSize(20.0);
    layoutText();
    setRedrawRate(15);
}

void KOSplBigView::setDisplayMode(std::uint32_t mode) {
    mDisplayMode = mode;
    setViewIsDirty();
}

void KOSplBigView::setAlertLevel(float level) {
    mAlertLevel = level;
    setViewIsDirty();
}

void KOSplBigView::setWarningLevel(float level) {
    mWarningLevel = level;
    setViewIsDirty();
}

QColor KOSplBigView::normalColor() const {
    const std::lock_guard lock(mColorLock);
    return mNormalColor.value_or(KOColorAdditions::noBlueColor());
}

QColor KOSplBigView::warningColor() const {
    const std::lock_guard lock(mColorLock);
    return mWarningColor.value_or(QColor(Qt::yellow));
}

QColor KOSplBigView::alertColor() const {
    const std::lock_guard lock(mColorLock);
    return mAlertColor.value_or(QColor(Qt::red));
}

void KOSplBigView::setNormalColor(const QColor& colour) {
    {
        const std::lock_guard lock(mColorLock);
        mNormalColor = colour;
    }
    layoutText();
    emit colorsChanged();
}

void KOSplBigView::setWarningColor(const QColor& colour) {
    {
        const std::lock_guard lock(mColorLock);
        mWarningColor = colour;
    }
    layoutText();
    emit colorsChanged();
}

void KOSplBigView::setAlertColor(const QColor& colour) {
    {
        const std::lock_guard lock(mColorLock);
        mAlertColor = colour;
    }
    layoutText();
    emit colorsChanged();
}

VETextAttributes KOSplBigView::textDictionaryFoSpLevel(float level) const {
    const std::lock_guard lock(mColorLock);
    if (level > mAlertLevel)
        return mAlertAttributes;
    if (level > mWarningLevel)
        return mWarningAttributes;
    return mNormalAttributes;
}

double KOSplBigView::fontSize() const {
    const std::lock_guard lock(mColorLock);
    return mFontSize;
}

QPointF KOSplBigView::textCenter() const {
    const std::lock_guard lock(mColorLock);
    return mTextCenter;
}

void KOSplBigView::layoutText() {
    const double w = width();
    const double h = height();
    const double size = std::max(1.0, std::min(h - 50.0, (w - 40.0) / 4.5));
    const QColor normal = normalColor();
    const QColor warning = warningColor();
    const QColor alert = alertColor();
    {
        const std::lock_guard lock(mColorLock);
        mFontSize = size;
        mTextCenter = QPointF(40.0 + (w - 40.0) / 2.0, 40.0 + (h - 50.0) / 2.0 - size / 2.0);
        mNormalAttributes = ZODictionary::fontAttributesDictionaryForSize(size, normal);
        mWarningAttributes = ZODictionary::fontAttributesDictionaryForSize(size, warning);
        mAlertAttributes = ZODictionary::fontAttributesDictionaryForSize(size, alert);
    }
    setViewIsDirty();
}

void KOSplBigView::resizeEvent(QResizeEvent* event) {
    KOSplViewBase::resizeEvent(event);
    if (mGaugeView)
        mGaugeView->setGeometry(10, 10, 40, std::max(0, height() - 20));
    layoutText();
}

QString KOSplBigView::displayedText() const {
    const Values shown = values();
    switch (mDisplayMode) {
    case kAvg:
        return KOString::stringFromSpLevel(shown.avg);
    case kPeak:
        return KOString::stringFromSpLevel(shown.peak);
    case kLeq:
        return KOString::stringFromSpLevel(shown.leq);
    default:
        return KOString::stringFromSpLevel(shown.primary);
    }
}

void KOSplBigView::paintEvent(QPaintEvent* event) {
    KOSplViewBase::paintEvent(event);
    const Values shown = values();
    float level = shown.primary;
    if (mDisplayMode == kAvg)
        level = shown.avg;
    else if (mDisplayMode == kPeak)
        level = shown.peak;
    else if (mDisplayMode == kLeq)
        level = shown.leq;
    const QPointF centre = textCenter();
    const double h = height();
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The layout counts y upwards from the bottom edge; the digits' centre sits s/2 above it.
    VEString::drawCenteredAtPoint(painter, displayedText(),
                                  QPointF(centre.x(), h - centre.y() - fontSize() / 2.0),
                                  textDictionaryFoSpLevel(level));
    VEString::drawCenteredAtPoint(painter, infoString(), QPointF(centre.x(), h - 20.0),
                                  mInfoAttributes);
}

// --- Controller
// -----------------------------------------------------------------------------------

KOSplBigWindowController::KOSplBigWindowController() {
    build();
    setDisplayMode(KOSplBigView::kInst);
    setAlertLevel(100.0f);
    setWarningLevel(85.0f);
}

KOSplBigWindowController::KOSplBigWindowController(const QVariantMap& d) {
    build();
    const QVariant frame = d.value(QString::fromLatin1(kFrameKey));
    if (frame.typeId() == QMetaType::QString)
        koru::setWindowFrameFromString(*mWindow, frame.toString());
    setDisplayMode(
        std::uint32_t(ZODictionary::unsignedIntForKey(d, QString::fromLatin1(kDisplayModeKey), 0)));
    setAlertLevel(ZODictionary::floatValueForKey(d, QString::fromLatin1(kAlertLevelKey), 100.0f));
    setWarningLevel(
        ZODictionary::floatValueForKey(d, QString::fromLatin1(kWarningLevelKey), 85.0f));
    if (auto colour = colorFrom(d.value(QString::fromLatin1(kAlertColorKey))))
        mView->setAlertColor(*colour);
    if (auto colour = colorFrom(d.value(QString::fromLatin1(kWarningColorKey))))
        mView->setWarningColor(*colour);
}

KOSplBigWindowController::~KOSplBigWindowController() = default;

void KOSplBigWindowController::build() {
    mWindow = std::make_unique<QWidget>();
    mWindow->setWindowTitle(QStringLiteral("SPL"));
    mWindow->setMinimumSize(230, 160);
    mWindow->resize(400, 300);
    auto* layout = new QVBoxLayout(mWindow.get());
    layout->setContentsMargins(0, 0, 0, 0);
    mView = new KOSplBigView;
    layout->addWidget(mView, 1);
    buildControlPanel();
    auto* fullScreen = new QAction(QStringLiteral("Enter Full Screen"), mWindow.get());
    fullScreen->setShortcut(QKeySequence::FullScreen);
    connect(fullScreen, &QAction::triggered, this, &KOSplBigWindowController::toggleFullScreen);
    mWindow->addAction(fullScreen);
    mWindow->installEventFilter(this);
}

void KOSplBigWindowController::buildControlPanel() {
    using koru::framework::ColourWell;
    KOInstrumentControlView* panel = mView->controlView();
    panel->setSize(QSizeF(130, 100));
    mModePopUp = panel->addPopUpButtonWithFrame(QRectF(10, 5, 75, 20), this, [this](QWidget*) {
        setDisplayMode(std::uint32_t(mModePopUp->currentData().toLongLong()));
    });
    for (std::uint32_t mode :
         {KOSplBigView::kInst, KOSplBigView::kAvg, KOSplBigView::kPeak, KOSplBigView::kLeq})
        mModePopUp->addItem(KOString::stringForSplDisplay(mode), qint64(mode));
    mLevelSlider = panel->addDoubleSliderWithFrame(
        QRectF(10, 65, 110, 20), this,
        [this](QWidget*) {
            setWarningAndAlert(mLevelSlider->lowValue(), mLevelSlider->highValue());
        },
        QStringLiteral("Warning & Alert"));
    mLevelSlider->setRange(kMinimumLevel, kMaximumLevel);
    const auto readOut = [&](const QRectF& frame, bool alert) {
        auto* field = new QLineEdit(panel);
        field->setAlignment(Qt::AlignRight);
        field->setFrame(true);
        field->setFont(KOInstrumentControlView::miniFont());
        // Frames are y-up inside the panel.
        field->setGeometry(QRectF(frame.x(), panel->height() - frame.y() - frame.height(),
                                  frame.width(), frame.height())
                               .toRect());
        connect(field, &QLineEdit::editingFinished, this,
                [this, field, alert] { readOutEdited(field, alert); });
        return field;
    };
    mAlertReadOut = readOut(QRectF(65, 52, 45, 16), true);
    mWarningReadOut = readOut(QRectF(10, 52, 45, 16), false);
    mAlertColorWell =
        panel->addColorWellWithFrame(QRectF(85, 30, 30, 20), mView.data(), "alertColor");
    mWarningColorWell =
        panel->addColorWellWithFrame(QRectF(10, 30, 30, 20), mView.data(), "warningColor");
}

QString KOSplBigWindowController::readOutText(float level) {
    return QStringLiteral("%1dB").arg(std::lround(double(level)));
}

void KOSplBigWindowController::showLevels() {
    if (mLevelSlider)
        mLevelSlider->setValues(mWarningLevel, mAlertLevel);
    if (mAlertReadOut)
        mAlertReadOut->setText(readOutText(mAlertLevel));
    if (mWarningReadOut)
        mWarningReadOut->setText(readOutText(mWarningLevel));
}

void KOSplBigWindowController::setWarningAndAlert(double low, double high) {
    setWarningLevel(float(low));
    setAlertLevel(float(high));
}

void KOSplBigWindowController::readOutEdited(QLineEdit* field, bool alert) {
    QString text = field->text().trimmed();
    if (text.endsWith(QStringLiteral("dB"), Qt::CaseInsensitive))
        text.chop(2);
    bool ok = false;
    // Either decimal separator: the user types as they write.
    const double value = text.trimmed().replace(u',', u'.').toDouble(&ok);
    if (ok && std::isfinite(value)) {
        if (alert)
            setAlertLevel(float(value));
        else
            setWarningLevel(float(value));
    }
    showLevels();
}

bool KOSplBigWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mWindow.get() && event->type() == QEvent::Close && mDelegate)
        mDelegate->bigWindowWillClose(this);
    return QObject::eventFilter(watched, event);
}

QVariantMap KOSplBigWindowController::dictionaryRepresentation() const {
    return {{QStringLiteral("KOType"), QStringLiteral("KOSplBigWindowController")},
            {QString::fromLatin1(kFrameKey), koru::windowFrameString(*mWindow)},
            {QString::fromLatin1(kDisplayModeKey), qint64(displayMode())},
            {QString::fromLatin1(kAlertLevelKey), double(alertLevel())},
            {QString::fromLatin1(kWarningLevelKey), double(warningLevel())},
            {QString::fromLatin1(kWarningColorKey), colorDictionary(mView->warningColor())},
            {QString::fromLatin1(kAlertColorKey), colorDictionary(mView->alertColor())}};
}

void KOSplBigWindowController::setData(const KOSPLData& data) {
    mView->setData(data);
}

void KOSplBigWindowController::setInstrumentSpeed(std::uint32_t speed) {
    mView->setInstrumentSpeed(speed);
}

void KOSplBigWindowController::setWeightingType(std::uint32_t weighting) {
    mView->setWeightingType(weighting);
}

void KOSplBigWindowController::setDisplayMode(std::uint32_t mode) {
    if (mode != KOSplBigView::kLeq && mode != KOSplBigView::kAvg && mode != KOSplBigView::kPeak)
        mode = KOSplBigView::kInst;
    mView->setDisplayMode(mode);
    mModePopUp->setCurrentIndex(mModePopUp->findData(qint64(mode)));
}

std::uint32_t KOSplBigWindowController::displayMode() const {
    return mView->displayMode();
}

void KOSplBigWindowController::setAlertLevel(float level) {
    mAlertLevel = clampLevel(level);
    if (mWarningLevel > mAlertLevel) {
        mWarningLevel = mAlertLevel;
        mView->setWarningLevel(mWarningLevel);
    }
    mView->setAlertLevel(mAlertLevel);
    showLevels();
}

void KOSplBigWindowController::setWarningLevel(float level) {
    mWarningLevel = clampLevel(level);
    if (mAlertLevel < mWarningLevel) {
        mAlertLevel = mWarningLevel;
        mView->setAlertLevel(mAlertLevel);
    }
    mView->setWarningLevel(mWarningLevel);
    showLevels();
}

float KOSplBigWindowController::alertLevel() const {
    return clampLevel(mAlertLevel);
}

float KOSplBigWindowController::warningLevel() const {
    return clampLevel(mWarningLevel);
}

void KOSplBigWindowController::toggleFullScreen() {
    if (mWindow->isFullScreen())
        mWindow->showNormal();
    else
        mWindow->showFullScreen();
}
