#include "engine/ui/KOSignalGeneratorWrapper.h"

#include "engine/KOAudioDevice.h"
#include "engine/KOAuxInSignalGenerator.h"
#include "engine/ui/KOAuxInWrapper.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/MainThread.h"
#include "platform/log/Log.h"
#include "utility/NumberScanner.h"
#include "utility/ZODictionary.h"
#include "utility/ui/RangeSlider.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <optional>

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

// Tab identifiers in signal type order.
constexpr std::array<const char*, 4> kTabIdentifiers = {"sine", "sweep", "pink", "white"};

QString hertzText(float frequency) {
    return QString::fromStdString(fmt::format("{:.0f}", frequency));
}

std::optional<double> numberIn(const QLineEdit& field) {
    return koru::utility::NumberScanner::leadingDouble(field.text());
}

QLineEdit* numberField(QWidget* parent, const char* name) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(text(name));
    field->setAlignment(Qt::AlignRight);
    field->setFixedWidth(80);
    return field;
}

QSlider* positionSlider(QWidget* parent, const char* name) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(text(name));
    slider->setRange(0, KOSignalGeneratorWrapper::kSliderSteps);
    slider->setMinimumWidth(240);
    return slider;
}

} // namespace

KOSignalGeneratorWrapper::KOSignalGeneratorWrapper() : KOSignalGeneratorWrapper(Options{}) {}

KOSignalGeneratorWrapper::KOSignalGeneratorWrapper(Options options)
    : mDefaults(options.defaults ? *options.defaults
                                 : koru::platform::UserDefaults::standardUserDefaults()) {
    koru::log::info("initializing a signal generator");
    mGen = std::make_unique<KOAuxInSignalGenerator>(std::move(options.output));
    if (options.engineSampleRate > 0.0) {
        mGen->SetEngineSampleRate(options.engineSampleRate);
    }
    buildWindow();
    awakeFromNib();
    const QVariant saved = mDefaults.objectForKey(text(kSettingsDefault));
    if (saved.typeId() == QMetaType::QVariantMap) {
        loadSettingsFromDictionary(saved.toMap());
    }
    // The device holding the generator is never destroyed: save on the way out as well.
    if (QCoreApplication* application = QCoreApplication::instance()) {
        mQuitConnection = connect(application, &QCoreApplication::aboutToQuit, this,
                                  &KOSignalGeneratorWrapper::saveSettings);
    }
    mReloadToken = koru::platform::observeNotification(
        text(KOAudioDevice::kReloadAudioPropNotification), nullptr,
        [this](const koru::platform::Notification&) {
            koru::platform::postToMainThread(this, [this] { awakeFromNib(); });
        });
}

KOSignalGeneratorWrapper::~KOSignalGeneratorWrapper() {
    mReloadToken.reset();
    disconnect(mQuitConnection);
    saveSettings();
    if (mWindow) {
        mWindow->close();
    }
    mGen.reset();
}

koru::AuxInputWrapperFactory KOSignalGeneratorWrapper::factory(KOAudioDevice& device) {
    const auto options = [&device] {
        Options options;
        options.engineSampleRate = device.nominalSampleRate();
        return options;
    };
    koru::AuxInputWrapperFactory made;
    made.create = [options] { return std::make_unique<KOSignalGeneratorWrapper>(options()); };
    made.createWithDictionary = [options](const QVariantMap& dictionary) {
        auto wrapper = std::make_unique<KOSignalGeneratorWrapper>(options());
        wrapper->loadSettingsFromDictionary(dictionary);
        return wrapper;
    };
    return made;
}

void KOSignalGeneratorWrapper::buildWindow() {
    mWindow = std::make_unique<QWidget>();
    mWindow->setObjectName(text(kNibName));
    mWindow->setWindowTitle(tr("Signal Generator"));
    QWidget* window = mWindow.get();
    auto* layout = new QVBoxLayout(window);

    mTabView = new QTabWidget(window);
    mTabView->setObjectName(QStringLiteral("tabView"));
    const std::array<QString, 4> titles = {tr("Sine"), tr("Sweep"), tr("Pink Noise"),
                                           tr("White Noise")};
    std::array<QWidget*, 4> pages{};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        pages[i] = new QWidget(mTabView);
        pages[i]->setObjectName(text(kTabIdentifiers[i]));
        mTabView->addTab(pages[i], titles[i]);
    }

    auto* sine = new QHBoxLayout(pages[0]);
    sine->addWidget(new QLabel(tr("Frequency:"), pages[0]));
    mFrequencySlider = positionSlider(pages[0], "frequencySlider");
    sine->addWidget(mFrequencySlider, 1);
    mFrequencyTextField = numberField(pages[0], "frequencyTextField");
    sine->addWidget(mFrequencyTextField);
    sine->addWidget(new QLabel(tr("Hz"), pages[0]));

    auto* sweep = new QGridLayout(pages[1]);
    sweep->addWidget(new QLabel(tr("Range:"), pages[1]), 0, 0);
    mSweepBoundsSlider = new koru::RangeSlider(pages[1]);
    mSweepBoundsSlider->setObjectName(QStringLiteral("sweepBoundsSlider"));
    mSweepBoundsSlider->setRange(0.0, 1.0);
    sweep->addWidget(mSweepBoundsSlider, 0, 1, 1, 4);
    mSweepLoTextField = numberField(pages[1], "sweepLoTextField");
    mSweepHiTextField = numberField(pages[1], "sweepHiTextField");
    sweep->addWidget(mSweepLoTextField, 1, 1);
    sweep->addWidget(new QLabel(tr("Hz to"), pages[1]), 1, 2);
    sweep->addWidget(mSweepHiTextField, 1, 3);
    sweep->addWidget(new QLabel(tr("Hz"), pages[1]), 1, 4);
    sweep->addWidget(new QLabel(tr("Speed:"), pages[1]), 2, 0);
    mSweepSpeedSlider = new QSlider(Qt::Horizontal, pages[1]);
    mSweepSpeedSlider->setObjectName(QStringLiteral("sweepSpeedSlider"));
    mSweepSpeedSlider->setRange(int(std::lround(kSweepSpeedMinimum * 100)),
                                int(std::lround(kSweepSpeedMaximum * 100)));
    sweep->addWidget(mSweepSpeedSlider, 2, 1, 1, 4);

    for (std::size_t i = 2; i < 4; ++i) {
        auto* noise = new QVBoxLayout(pages[i]);
        noise->addStretch();
    }
    layout->addWidget(mTabView);

    auto* levels = new QGridLayout;
    levels->addWidget(new QLabel(tr("Amplitude:"), window), 0, 0);
    mAmplitudeSlider = positionSlider(window, "amplitudeSlider");
    levels->addWidget(mAmplitudeSlider, 0, 1);
    mAmplitudeTextField = numberField(window, "amplitudeTextField");
    levels->addWidget(mAmplitudeTextField, 0, 2);
    levels->addWidget(new QLabel(tr("dB"), window), 0, 3);
    levels->addWidget(new QLabel(tr("Output Volume:"), window), 1, 0);
    mOutVolumeSlider = positionSlider(window, "outVolumeSlider");
    levels->addWidget(mOutVolumeSlider, 1, 1);
    mOutVolumeTextField = numberField(window, "outVolumeTextField");
    mOutVolumeTextField->setReadOnly(true);
    levels->addWidget(mOutVolumeTextField, 1, 2, 1, 2);
    layout->addLayout(levels);
    mMuteCheckBox = new QCheckBox(tr("Mute"), window);
    mMuteCheckBox->setObjectName(QStringLiteral("muteCheckBox"));
    layout->addWidget(mMuteCheckBox);

    connect(mTabView, &QTabWidget::currentChanged, this, &KOSignalGeneratorWrapper::tabSelected);
    connect(mFrequencySlider, &QSlider::valueChanged, this,
            &KOSignalGeneratorWrapper::frequencySliderMoved);
    connect(mFrequencyTextField, &QLineEdit::editingFinished, this,
            &KOSignalGeneratorWrapper::frequencyFieldEdited);
    connect(mAmplitudeSlider, &QSlider::valueChanged, this,
            &KOSignalGeneratorWrapper::amplitudeSliderMoved);
    connect(mAmplitudeTextField, &QLineEdit::editingFinished, this,
            &KOSignalGeneratorWrapper::amplitudeFieldEdited);
    connect(mSweepBoundsSlider, &koru::RangeSlider::valuesChanged, this,
            &KOSignalGeneratorWrapper::sweepBoundsSliderMoved);
    connect(mSweepLoTextField, &QLineEdit::editingFinished, this,
            &KOSignalGeneratorWrapper::sweepFieldsEdited);
    connect(mSweepHiTextField, &QLineEdit::editingFinished, this,
            &KOSignalGeneratorWrapper::sweepFieldsEdited);
    connect(mSweepSpeedSlider, &QSlider::valueChanged, this,
            &KOSignalGeneratorWrapper::sweepSpeedSliderMoved);
    connect(mOutVolumeSlider, &QSlider::valueChanged, this,
            [this](int position) { setOutVolume(double(position) / kSliderSteps); });
    connect(mMuteCheckBox, &QCheckBox::toggled, this, &KOSignalGeneratorWrapper::setMute);
}

void KOSignalGeneratorWrapper::awakeFromNib() {
    if (!mGen) {
        return;
    }
    showFrequency();
    showSweepBounds();
    showSweepSpeed();
    showAmplitude();
    showOutVolume(mGen->Volume());
    selectTabForType(mGen->SignalType());
    const QSignalBlocker quiet(mMuteCheckBox);
    mMuteCheckBox->setChecked(mGen->Mute());
}

QString KOSignalGeneratorWrapper::identifier() const {
    return koru::auxInputTypeName(koru::AuxInputKind::SignalGenerator);
}

KOAuxInput* KOSignalGeneratorWrapper::auxInput() {
    return mGen.get();
}

void KOSignalGeneratorWrapper::showWindow(const void*) {
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
}

bool KOSignalGeneratorWrapper::isWindowVisible() const {
    return mWindow && mWindow->isVisible();
}

// ---- slider maps ----------------------------------------------------------------------------

double KOSignalGeneratorWrapper::x(double frequency) const {
    const double decades = std::log10(mGen->SampleRate() / 2.0) - 1.0;
    if (!(decades > 0.0)) {
        return 0.0;
    }
    return (std::log10(frequency) - 1.0) / decades;
}

double KOSignalGeneratorWrapper::f(double position) const {
    const double nyquist = mGen->SampleRate() / 2.0;
    const double decades = std::log10(nyquist) - 1.0;
    return std::min(nyquist, std::pow(10.0, position * decades + 1.0));
}

int KOSignalGeneratorWrapper::sliderPosition(double position) const {
    if (!std::isfinite(position)) {
        position = position > 0.0 ? 1.0 : 0.0;
    }
    return int(std::lround(std::clamp(position, 0.0, 1.0) * kSliderSteps));
}

// ---- setters --------------------------------------------------------------------------------

void KOSignalGeneratorWrapper::setF(float frequency) {
    mGen->SetFrequency(frequency);
    showFrequency();
}

void KOSignalGeneratorWrapper::showFrequency() {
    const float frequency = mGen->Frequency();
    mFrequencyTextField->setText(hertzText(frequency));
    const QSignalBlocker quiet(mFrequencySlider);
    mFrequencySlider->setValue(sliderPosition(x(frequency)));
}

void KOSignalGeneratorWrapper::frequencySliderMoved(int position) {
    setF(float(f(double(position) / kSliderSteps)));
}

void KOSignalGeneratorWrapper::frequencyFieldEdited() {
    if (const std::optional<double> value = numberIn(*mFrequencyTextField)) {
        setF(float(*value));
    } else {
        showFrequency();
    }
}

void KOSignalGeneratorWrapper::setA(float amplitude) {
    mGen->SetAmplitude(std::isfinite(amplitude) ? std::clamp(amplitude, 0.0f, 1.0f) : 0.0f);
    showAmplitude();
}

void KOSignalGeneratorWrapper::showAmplitude() {
    const float amplitude = mGen->Amplitude();
    mAmplitudeTextField->setText(
        amplitude > 0.0f
            ? QString::fromStdString(fmt::format("{:.1f}", 20.0 * std::log10(double(amplitude))))
            : QStringLiteral("-inf"));
    const QSignalBlocker quiet(mAmplitudeSlider);
    mAmplitudeSlider->setValue(sliderPosition(std::cbrt(double(amplitude))));
}

void KOSignalGeneratorWrapper::amplitudeSliderMoved(int position) {
    const double p = double(position) / kSliderSteps;
    setA(float(p * p * p));
}

void KOSignalGeneratorWrapper::amplitudeFieldEdited() {
    if (const std::optional<double> decibels = numberIn(*mAmplitudeTextField)) {
        setA(float(std::pow(10.0, std::min(0.0, *decibels) / 20.0)));
    } else {
        showAmplitude();
    }
}

void KOSignalGeneratorWrapper::setSweepB(float low, float high) {
    mGen->SetSweepBounds(low, high);
    showSweepBounds();
}

void KOSignalGeneratorWrapper::showSweepBounds() {
    const float low = mGen->SweepLow();
    const float high = mGen->SweepHigh();
    mSweepLoTextField->setText(hertzText(low));
    mSweepHiTextField->setText(hertzText(high));
    const auto knob = [this](float frequency) {
        return double(sliderPosition(x(frequency))) / kSliderSteps;
    };
    mSweepBoundsSlider->setValues(knob(low), knob(high));
}

void KOSignalGeneratorWrapper::sweepBoundsSliderMoved(double low, double high) {
    setSweepB(float(f(low)), float(f(high)));
}

void KOSignalGeneratorWrapper::sweepFieldsEdited() {
    const std::optional<double> low = numberIn(*mSweepLoTextField);
    const std::optional<double> high = numberIn(*mSweepHiTextField);
    if (low && high) {
        setSweepB(float(*low), float(*high));
    } else {
        showSweepBounds();
    }
}

void KOSignalGeneratorWrapper::setSweepSpeed(float speed) {
    mGen->SetSweepSpeed(speed);
    showSweepSpeed();
}

void KOSignalGeneratorWrapper::showSweepSpeed() {
    const QSignalBlocker quiet(mSweepSpeedSlider);
    const double speed = double(mGen->SweepSpeed());
    mSweepSpeedSlider->setValue(int(std::lround(std::isfinite(speed) ? speed * 100.0 : 0.0)));
}

void KOSignalGeneratorWrapper::sweepSpeedSliderMoved(int position) {
    setSweepSpeed(float(position) / 100.0f);
}

void KOSignalGeneratorWrapper::setOutVolume(double position) {
    const double p = std::isfinite(position) ? std::clamp(position, 0.0, 1.0) : 0.0;
    const auto gain = float(p * p * p);
    try {
        mGen->SetVolume(gain);
    } catch (const std::exception& failure) {
        koru::log::warn("Signal generator: the output volume could not be set ({})",
                        failure.what());
    }
    showOutVolume(gain);
}

void KOSignalGeneratorWrapper::showOutVolume(float gain) {
    mOutVolumeTextField->setText(KOAuxInWrapper::volumeText(gain));
    const QSignalBlocker quiet(mOutVolumeSlider);
    mOutVolumeSlider->setValue(sliderPosition(std::cbrt(double(gain))));
}

void KOSignalGeneratorWrapper::setMute(bool mute) {
    if (mGen) {
        mGen->SetMute(mute);
    }
    {
        const QSignalBlocker quiet(mMuteCheckBox);
        mMuteCheckBox->setChecked(mute);
    }
    if (mMuteStatusChanged) {
        mMuteStatusChanged(this->mute());
    }
}

bool KOSignalGeneratorWrapper::mute() const {
    return mGen && mGen->Mute();
}

void KOSignalGeneratorWrapper::toggleMute() {
    setMute(!mute());
}

void KOSignalGeneratorWrapper::setSignalType(std::int32_t type) {
    mGen->SetSignalType(type);
    selectTabForType(type);
}

void KOSignalGeneratorWrapper::selectTabForType(std::int32_t type) {
    if (type < 0 || type >= std::int32_t(kTabIdentifiers.size())) {
        return;
    }
    const QSignalBlocker quiet(mTabView);
    mTabView->setCurrentIndex(type);
}

void KOSignalGeneratorWrapper::tabSelected(int index) {
    const QString identifier =
        mTabView->widget(index) ? mTabView->widget(index)->objectName() : QString();
    for (std::size_t type = 0; type < kTabIdentifiers.size(); ++type) {
        if (identifier == text(kTabIdentifiers[type])) {
            mGen->SetSignalType(std::int32_t(type));
            return;
        }
    }
}

// ---- settings -------------------------------------------------------------------------------

QVariantMap KOSignalGeneratorWrapper::dictionaryRepresentation() const {
    QVariantMap dictionary;
    dictionary.insert(text(kTypeKey), identifier());
    dictionary.insert(text(kFrequencyKey), double(mGen->Frequency()));
    dictionary.insert(text(kAmplitudeKey), double(mGen->Amplitude()));
    dictionary.insert(text(kSweepLowKey), double(mGen->SweepLow()));
    dictionary.insert(text(kSweepHighKey), double(mGen->SweepHigh()));
    dictionary.insert(text(kSweepSpeedKey), double(mGen->SweepSpeed()));
    dictionary.insert(text(kSignalTypeKey), QVariant::fromValue(std::uint32_t(mGen->SignalType())));
    dictionary.insert(text(kWindowIsVisibleKey), isWindowVisible() ? 1 : 0);
    dictionary.insert(text(kMuteKey), mGen->Mute());
    return dictionary;
}

void KOSignalGeneratorWrapper::loadSettingsFromDictionary(const QVariantMap& dictionary) {
    if (!mGen || dictionary.value(text(kTypeKey)).toString() != identifier()) {
        return;
    }
    setMute(ZODictionary::boolForKey(dictionary, text(kMuteKey), false));
    const float frequency = ZODictionary::floatForKey(dictionary, text(kFrequencyKey));
    const float amplitude = ZODictionary::floatForKey(dictionary, text(kAmplitudeKey));
    const float low = ZODictionary::floatForKey(dictionary, text(kSweepLowKey));
    const float high = ZODictionary::floatForKey(dictionary, text(kSweepHighKey));
    std::int32_t type = ZODictionary::intForKey(dictionary, text(kSignalTypeKey));
    setF(frequency);
    setA(amplitude);
    setSweepB(low, high);
    setSweepSpeed(ZODictionary::floatForKey(dictionary, text(kSweepSpeedKey)));
    const std::int32_t last = std::int32_t(kTabIdentifiers.size()) - 1;
    if (type < 0 || type > last) {
        koru::log::warn("Signal generator: signal type {} is none of the four; {} taken", type,
                        std::clamp(type, 0, last));
        type = std::clamp(type, 0, last);
    }
    setSignalType(type);
    if (ZODictionary::boolForKey(dictionary, text(kWindowIsVisibleKey))) {
        showWindow(this);
    }
}

void KOSignalGeneratorWrapper::saveSettings() const {
    if (mGen) {
        mDefaults.setObject(text(kSettingsDefault), dictionaryRepresentation());
    }
}
