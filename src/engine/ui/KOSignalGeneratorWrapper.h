#pragma once

#include "engine/AuxInputWrapper.h"
#include "platform/audio/AudioUnitInstance.h"
#include "platform/notifications/NotificationCenter.h"

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>

class KOAudioDevice;
class KOAuxInSignalGenerator;
class QCheckBox;
class QLineEdit;
class QSlider;
class QTabWidget;
class QWidget;

namespace koru {
class RangeSlider;
namespace platform {
class UserDefaults;
} // namespace platform
} // namespace koru

// The signal generator's window controller: owns the generator and maps its controls onto it.
// Frequency sliders are logarithmic from 10 Hz (position 0) to the Nyquist frequency (1); the
// amplitude and the output volume follow the cube of their sliders, their fields in decibels.
//
// The settings live in the user default "SignalGenerator.Settings", read when a generator is
// made and written when it is removed and when the program quits (the audio device that holds
// the generator lives to the end of the process), and in sessions through
// dictionaryRepresentation(). The controls are shown again after every change of the audio
// device, whose rate places the frequency sliders' end. Main thread only.
class KOSignalGeneratorWrapper : public QObject, public koru::AuxInputWrapper {
    Q_OBJECT
public:
    static constexpr const char* kSettingsDefault = "SignalGenerator.Settings";
    static constexpr const char* kTypeKey = "KOType";
    static constexpr const char* kFrequencyKey = "SignalGenerator.Frequency";
    static constexpr const char* kAmplitudeKey = "SignalGenerator.Amplitude";
    static constexpr const char* kSweepLowKey = "SignalGenerator.Sweep.Frequency.Low";
    static constexpr const char* kSweepHighKey = "SignalGenerator.Sweep.Frequency.High";
    static constexpr const char* kSweepSpeedKey = "SignalGenerator.Sweep.Speed";
    static constexpr const char* kSignalTypeKey = "SignalGenerator.Signal.Type";
    static constexpr const char* kWindowIsVisibleKey = "Window.IsVisible";
    static constexpr const char* kMuteKey = "SignalGenerator.Mute";
    static constexpr const char* kNibName = "signalgenerator";
    static constexpr int kSliderSteps = 10000;
    // The sweep speed slider's value is the speed itself, in hundredths.
    static constexpr double kSweepSpeedMinimum = 0.01;
    static constexpr double kSweepSpeedMaximum = 10.0;

    struct Options {
        // Plays the signal; null takes the default output unit.
        std::unique_ptr<koru::platform::AudioUnitInstance> output;
        // Holds "SignalGenerator.Settings"; null takes the user's defaults.
        koru::platform::UserDefaults* defaults = nullptr;
        // The engine's rate, so restored frequencies meet the right Nyquist limit before the
        // device attaches the generator; 0 leaves the output's rate until then.
        double engineSampleRate = 0.0;
    };

    // Throws CAException when the generator's output refuses the format.
    KOSignalGeneratorWrapper();
    explicit KOSignalGeneratorWrapper(Options options);
    // How the device makes one, on the default output at the device's rate, fresh or restored.
    static koru::AuxInputWrapperFactory factory(KOAudioDevice& device);
    // Saves the settings to the user defaults, then destroys the generator.
    ~KOSignalGeneratorWrapper() override;

    QString identifier() const;
    KOAuxInput* auxInput() override;
    KOAuxInSignalGenerator* signalGenerator() const { return mGen.get(); }
    void showWindow(const void* sender) override;
    bool isWindowVisible() const;

    QVariantMap dictionaryRepresentation() const override;
    // Only a dictionary of this class applies; missing values read 0 and meet the setters'
    // limits. A signal type outside the four is brought into them.
    void loadSettingsFromDictionary(const QVariantMap& dictionary);
    void saveSettings() const;

    // Slider position of a frequency and frequency of a position, at the generator's rate.
    double x(double frequency) const;
    double f(double position) const;

    void setF(float frequency);
    void setA(float amplitude);
    void setSweepB(float low, float high);
    void setSweepSpeed(float speed);
    // Position 0 to 1: gain = position³ on the speakers.
    void setOutVolume(double position);
    void setMute(bool mute);
    bool mute() const;
    void toggleMute();
    void setSignalType(std::int32_t type);

    // Told every mute change (the application's mute menu item follows it).
    void setMuteStatusChanged(std::function<void(bool)> changed) {
        mMuteStatusChanged = std::move(changed);
    }

    QWidget* window() const { return mWindow.get(); }
    QSlider* frequencySlider() const { return mFrequencySlider; }
    QLineEdit* frequencyTextField() const { return mFrequencyTextField; }
    QSlider* amplitudeSlider() const { return mAmplitudeSlider; }
    QLineEdit* amplitudeTextField() const { return mAmplitudeTextField; }
    koru::RangeSlider* sweepBoundsSlider() const { return mSweepBoundsSlider; }
    QLineEdit* sweepLoTextField() const { return mSweepLoTextField; }
    QLineEdit* sweepHiTextField() const { return mSweepHiTextField; }
    QSlider* sweepSpeedSlider() const { return mSweepSpeedSlider; }
    QTabWidget* tabView() const { return mTabView; }
    QSlider* outVolumeSlider() const { return mOutVolumeSlider; }
    QLineEdit* outVolumeTextField() const { return mOutVolumeTextField; }
    QCheckBox* muteCheckBox() const { return mMuteCheckBox; }

private:
    void buildWindow();
    void awakeFromNib();
    void showFrequency();
    void showAmplitude();
    void showSweepBounds();
    void showSweepSpeed();
    void showOutVolume(float gain);
    void selectTabForType(std::int32_t type);
    void tabSelected(int index);
    void frequencySliderMoved(int position);
    void frequencyFieldEdited();
    void amplitudeSliderMoved(int position);
    void amplitudeFieldEdited();
    void sweepBoundsSliderMoved(double low, double high);
    void sweepFieldsEdited();
    void sweepSpeedSliderMoved(int position);
    int sliderPosition(double position) const;

    std::unique_ptr<KOAuxInSignalGenerator> mGen;
    koru::platform::UserDefaults& mDefaults;
    std::unique_ptr<QWidget> mWindow;
    QSlider* mFrequencySlider = nullptr;
    QLineEdit* mFrequencyTextField = nullptr;
    QSlider* mAmplitudeSlider = nullptr;
    QLineEdit* mAmplitudeTextField = nullptr;
    koru::RangeSlider* mSweepBoundsSlider = nullptr;
    QLineEdit* mSweepLoTextField = nullptr;
    QLineEdit* mSweepHiTextField = nullptr;
    QSlider* mSweepSpeedSlider = nullptr;
    QTabWidget* mTabView = nullptr;
    QSlider* mOutVolumeSlider = nullptr;
    QLineEdit* mOutVolumeTextField = nullptr;
    QCheckBox* mMuteCheckBox = nullptr;
    std::function<void(bool)> mMuteStatusChanged;
    QMetaObject::Connection mQuitConnection;
    koru::platform::ObserverToken mReloadToken; // a new engine rate moves the Nyquist limit
};
