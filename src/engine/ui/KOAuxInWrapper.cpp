#include "engine/ui/KOAuxInWrapper.h"

#include "engine/AudioSource.h"
#include "engine/KOAuxGenerator.h"
#include "engine/ui/AudioSourceGenericView.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <QWidget>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

} // namespace

KOAuxInWrapper::KOAuxInWrapper(const QString& nibName)
    : mNibName(nibName), mWindow(std::make_unique<QWidget>()) {
    mWindow->setObjectName(nibName);
    mWindow->setWindowFlag(Qt::Window);
    auto* layout = new QVBoxLayout(mWindow.get());
    mContentLayout = new QVBoxLayout;
    layout->addLayout(mContentLayout, 1);
    mScrollView = new QScrollArea(mWindow.get());
    mScrollView->setObjectName(QStringLiteral("scrollView"));
    mScrollView->setWidgetResizable(true);
    mContentLayout->addWidget(mScrollView, 1);

    auto* volume = new QHBoxLayout;
    volume->addWidget(new QLabel(tr("Output Volume:"), mWindow.get()));
    mVolumeSlider = new QSlider(Qt::Horizontal, mWindow.get());
    mVolumeSlider->setObjectName(QStringLiteral("volumeSlider"));
    mVolumeSlider->setRange(0, kVolumeSliderSteps);
    mVolumeSlider->setMinimumWidth(200);
    volume->addWidget(mVolumeSlider, 1);
    mVolumeTextField = new QLineEdit(mWindow.get());
    mVolumeTextField->setObjectName(QStringLiteral("volumeTextField"));
    mVolumeTextField->setReadOnly(true);
    mVolumeTextField->setFixedWidth(80);
    mVolumeTextField->setAlignment(Qt::AlignRight);
    volume->addWidget(mVolumeTextField);
    layout->addLayout(volume);
    connect(mVolumeSlider, &QSlider::valueChanged, this, &KOAuxInWrapper::volumeSliderMoved);
    showVolume(0.0f);
}

KOAuxInWrapper::~KOAuxInWrapper() {
    close();
}

void KOAuxInWrapper::initWithDictionary(const QVariantMap& dictionary) {
    if (ZODictionary::boolForKey(dictionary, text(kWindowIsVisibleKey))) {
        showWindow(this);
    }
}

bool KOAuxInWrapper::isWindowVisible() const {
    return mWindow && mWindow->isVisible();
}

QVariantMap KOAuxInWrapper::dictionaryRepresentation() const {
    QVariantMap dictionary;
    dictionary.insert(text(kTypeKey), identifier());
    // A char in the settings: 1 or 0; readers take a boolean as well.
    dictionary.insert(text(kWindowIsVisibleKey), isWindowVisible() ? 1 : 0);
    return dictionary;
}

QVariantMap KOAuxInWrapper::parameterDictionaryForAudioUnit(const koru::AudioSource& unit) {
    QVariantList ids;
    QVariantList values;
    for (const koru::AudioSourceParameter& parameter : unit.parameterList()) {
        ids.append(QVariant::fromValue(parameter.id));
        values.append(double(unit.parameter(parameter.id)));
    }
    return {{text(kParameterIDKey), ids}, {text(kParameterValueKey), values}};
}

void KOAuxInWrapper::showWindow(const void*) {
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
    if (mGenerator != nullptr) {
        showCocoaViewForAU(mGenerator->Source());
    }
}

QWidget* KOAuxInWrapper::createViewForAU(koru::AudioSource&) {
    return nullptr;
}

void KOAuxInWrapper::showCocoaViewForAU(koru::AudioSource& unit) {
    if (mAuIsShown) {
        return;
    }
    mAuIsShown = true;
    QWidget* view = createViewForAU(unit);
    if (view == nullptr) {
        view = new koru::AudioSourceGenericView(unit);
    }
    // The scroll view takes the size that shows the whole view, and the window grows or shrinks
    // by as much as the scroll view did.
    const QSize before = mScrollView->size();
    const int frame = 2 * mScrollView->frameWidth();
    const QSize fitting =
        view->sizeHint().expandedTo(view->minimumSizeHint()) + QSize(frame, frame);
    mScrollView->setWidget(view);
    mScrollView->setMinimumSize(fitting);
    mWindow->resize((mWindow->size() + fitting - before).expandedTo(mWindow->minimumSizeHint()));
}

void KOAuxInWrapper::setOutputVolume(double v) {
    const double position = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
    const auto gain = float(position * position * position);
    if (mGenerator != nullptr) {
        try {
            mGenerator->SetVolume(gain);
        } catch (const std::exception& failure) {
            koru::log::warn("{}: the output volume could not be set ({})",
                            identifier().toStdString(), failure.what());
        }
    }
    // Called with a number, not from the slider: the slider follows too.
    const QSignalBlocker quiet(mVolumeSlider);
    mVolumeSlider->setValue(int(std::lround(position * kVolumeSliderSteps)));
    showVolume(gain);
}

void KOAuxInWrapper::volumeSliderMoved(int position) {
    setOutputVolume(double(position) / kVolumeSliderSteps);
}

void KOAuxInWrapper::showVolume(float gain) {
    mVolumeTextField->setText(volumeText(gain));
}

QString KOAuxInWrapper::volumeText(float gain) {
    if (!(gain > 0.0f)) {
        return QStringLiteral("-inf dB");
    }
    return QString::fromStdString(fmt::format("{:.1f} dB", 20.0 * std::log10(double(gain))));
}

void KOAuxInWrapper::close() {
    if (mWindow) {
        mWindow->close();
    }
}
