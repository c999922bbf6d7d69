#pragma once

#include "engine/AuxInputWrapper.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class KOAuxGenerator;
class QLabel;
class QLineEdit;
class QScrollArea;
class QSlider;
class QVBoxLayout;
class QWidget;

namespace koru {
class AudioSource;
}

// The window controller of an auxiliary input played on the speakers (file player, network
// receiver). It owns no audio: a subclass creates its generator and points the base at it. The
// base keeps the window's visibility in the settings, shows the source's view once inside the
// window (its own, else the generic parameter view), turns the output-volume slider into a
// gain, and lists the source's parameters for the saved settings.
//
// Two phases: construct, let the subclass make its generator, then initWithDictionary() for a
// restored one, so that showWindow() already reaches the subclass. Main thread only.
class KOAuxInWrapper : public QObject, public koru::AuxInputWrapper {
    Q_OBJECT
public:
    static constexpr const char* kTypeKey = "KOType";
    static constexpr const char* kWindowIsVisibleKey = "Window.IsVisible";
    static constexpr const char* kParameterDictionaryKey =
        "AuxInput.GeneratorAU.ParameterDictionary";
    static constexpr const char* kParameterIDKey = "AuxInput.GeneratorAU.ParameterID";
    static constexpr const char* kParameterValueKey = "AuxInput.GeneratorAU.ParameterValue";
    static constexpr const char* kDefaultNibName = "fileplayer";
    static constexpr int kVolumeSliderSteps = 1000;

    // The window laid out as `nibName`: the source's view above, the output volume below.
    explicit KOAuxInWrapper(const QString& nibName = QString::fromLatin1(kDefaultNibName));
    ~KOAuxInWrapper() override;

    // Second phase of a restore: shows the window when the dictionary says it was visible.
    void initWithDictionary(const QVariantMap& dictionary);

    // The class name, written as "KOType".
    virtual QString identifier() const = 0;
    // "KOType" and "Window.IsVisible"; subclasses add their own keys.
    QVariantMap dictionaryRepresentation() const override;
    // The source's parameter ids in list order and their current values.
    static QVariantMap parameterDictionaryForAudioUnit(const koru::AudioSource& unit);

    void showWindow(const void* sender) override;
    // Places the source's view in the window, once per controller, and fits the window to it.
    void showCocoaViewForAU(koru::AudioSource& unit);
    // Slider position 0 to 1 (out of range is clamped): gain = v³ on the speakers only.
    void setOutputVolume(double v);
    void close();

    // "%.1f dB" of a gain; "-inf dB" for silence.
    static QString volumeText(float gain);

    QWidget* window() const { return mWindow.get(); }
    QScrollArea* scrollView() const { return mScrollView; }
    QSlider* volumeSlider() const { return mVolumeSlider; }
    QLineEdit* volumeTextField() const { return mVolumeTextField; }
    bool auIsShown() const { return mAuIsShown; }
    bool isWindowVisible() const;
    const QString& nibName() const { return mNibName; }

protected:
    void setGenerator(KOAuxGenerator* generator) { mGenerator = generator; }
    KOAuxGenerator* generator() const { return mGenerator; }
    // The source's own view, when it has one (the window owns what is returned); null takes the
    // generic parameter view.
    virtual QWidget* createViewForAU(koru::AudioSource& unit);
    // Where a subclass without a source view puts its own controls, above the volume.
    QVBoxLayout* contentLayout() const { return mContentLayout; }

private:
    void volumeSliderMoved(int position);
    void showVolume(float gain);

    QString mNibName;
    std::unique_ptr<QWidget> mWindow;
    QVBoxLayout* mContentLayout = nullptr;
    QScrollArea* mScrollView = nullptr;
    bool mAuIsShown = false;
    KOAuxGenerator* mGenerator = nullptr; // the subclass's
    QSlider* mVolumeSlider = nullptr;
    QLineEdit* mVolumeTextField = nullptr;
};
