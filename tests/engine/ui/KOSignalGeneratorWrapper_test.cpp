#include "engine/ui/KOSignalGeneratorWrapper.h"

#include "engine/EngineTestSupport.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOAuxInSignalGenerator.h"
#include "engine/KODataCollectorThread.h"
#include "engine/SignalSynthesis.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"
#include "utility/ui/RangeSlider.h"
#include "zotools/ZOInputClient.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

using koru::platform::UserDefaults;
using koru::test::ManualOutput;

namespace {

const QString kSettings = QStringLiteral("SignalGenerator.Settings");

QString freshPath(const char* name) {
    static int counter = 0;
    const QString path = QDir(koru::test::testRoot())
                             .filePath(QStringLiteral("%1-%2.plist").arg(name).arg(++counter));
    QFile::remove(path);
    return path;
}

// A wrapper on manual speakers and a defaults store of the test's own.
class SignalGeneratorWrapperTest : public ::testing::Test {
protected:
    std::unique_ptr<KOSignalGeneratorWrapper> make(double speakerRate = 48000.0) {
        KOSignalGeneratorWrapper::Options options;
        auto output = std::make_unique<ManualOutput>(speakerRate, true);
        speakers = output.get();
        options.output = std::move(output);
        options.defaults = &defaults;
        return std::make_unique<KOSignalGeneratorWrapper>(std::move(options));
    }
    static void edit(QLineEdit* field, const QString& value) {
        field->setText(value);
        emit field->editingFinished();
    }

    UserDefaults defaults{freshPath("defaults")};
    ManualOutput* speakers = nullptr;
};

} // namespace

TEST_F(SignalGeneratorWrapperTest, ANewGeneratorShowsItsSettingsAndIsSilentOnTheSpeakers) {
    auto wrapper = make();
    EXPECT_EQ(wrapper->identifier(), QStringLiteral("KOSignalGeneratorWrapper"));
    EXPECT_EQ(wrapper->auxInput(), wrapper->signalGenerator());
    EXPECT_EQ(wrapper->frequencyTextField()->text(), QStringLiteral("1000"));
    EXPECT_EQ(wrapper->amplitudeTextField()->text(), QStringLiteral("0.0"));
    EXPECT_EQ(wrapper->amplitudeSlider()->value(), KOSignalGeneratorWrapper::kSliderSteps);
    EXPECT_EQ(wrapper->sweepLoTextField()->text(), QStringLiteral("10"));
    EXPECT_EQ(wrapper->sweepHiTextField()->text(), QStringLiteral("20000"));
    EXPECT_EQ(wrapper->sweepSpeedSlider()->value(), 10); // 0.1
    EXPECT_EQ(wrapper->outVolumeTextField()->text(), QStringLiteral("-inf dB"));
    EXPECT_EQ(wrapper->outVolumeSlider()->value(), 0);
    EXPECT_EQ(wrapper->tabView()->currentWidget()->objectName(), QStringLiteral("sine"));
    EXPECT_EQ(wrapper->signalGenerator()->Volume(), 0.0f);
    EXPECT_FALSE(wrapper->isWindowVisible());
}

// 10 Hz is position 0 and Nyquist position 1, logarithmically in between; both ends and the
// fields go through the generator's limits.
TEST_F(SignalGeneratorWrapperTest, TheFrequencyControlsAreLogarithmicFromTenHertzToNyquist) {
    auto wrapper = make(48000.0);
    const double decades = std::log10(24000.0) - 1.0;
    struct Case {
        double frequency;
        double position;
    };
    for (const Case c : {Case{10.0, 0.0}, Case{24000.0, 1.0}, Case{100.0, 1.0 / decades},
                         Case{1000.0, 2.0 / decades}}) {
        EXPECT_NEAR(wrapper->x(c.frequency), c.position, 1e-12) << c.frequency;
        EXPECT_NEAR(wrapper->f(c.position), c.frequency, 1e-9 * c.frequency) << c.frequency;
    }
    EXPECT_EQ(wrapper->f(1.2), 24000.0); // never beyond Nyquist

    wrapper->frequencySlider()->setValue(KOSignalGeneratorWrapper::kSliderSteps / 2);
    const double middle = std::pow(10.0, 0.5 * decades + 1.0);
    EXPECT_NEAR(wrapper->signalGenerator()->Frequency(), middle, 0.01);
    EXPECT_EQ(wrapper->frequencyTextField()->text(), QString::number(std::lround(middle)));

    struct Typed {
        const char* text;
        float kept;
        const char* shown;
    };
    for (const Typed t : {Typed{"5", 10.0f, "10"}, Typed{"30000", 24000.0f, "24000"},
                          Typed{"440.4", 440.4f, "440"}, Typed{"abc", 440.4f, "440"}}) {
        edit(wrapper->frequencyTextField(), QString::fromLatin1(t.text));
        EXPECT_EQ(wrapper->signalGenerator()->Frequency(), t.kept) << t.text;
        EXPECT_EQ(wrapper->frequencyTextField()->text(), QString::fromLatin1(t.shown)) << t.text;
        EXPECT_EQ(wrapper->frequencySlider()->value(),
                  std::lround(wrapper->x(t.kept) * KOSignalGeneratorWrapper::kSliderSteps))
            << t.text;
    }
}

// The amplitude is the cube of its slider; its field is in decibels, at most 0 dB.
TEST_F(SignalGeneratorWrapperTest, TheAmplitudeFollowsTheCubeOfItsSliderAndItsDecibelField) {
    auto wrapper = make();
    KOAuxInSignalGenerator& generator = *wrapper->signalGenerator();
    struct Typed {
        const char* decibels;
        float amplitude;
        const char* shown;
    };
    for (const Typed t : {Typed{"6", 1.0f, "0.0"}, Typed{"-6", 0.50118723f, "-6.0"},
                          Typed{"-20", 0.1f, "-20.0"}, Typed{"0", 1.0f, "0.0"}}) {
        edit(wrapper->amplitudeTextField(), QString::fromLatin1(t.decibels));
        EXPECT_NEAR(generator.Amplitude(), t.amplitude, 1e-6) << t.decibels;
        EXPECT_EQ(wrapper->amplitudeTextField()->text(), QString::fromLatin1(t.shown))
            << t.decibels;
        EXPECT_EQ(wrapper->amplitudeSlider()->value(),
                  std::lround(std::cbrt(t.amplitude) * KOSignalGeneratorWrapper::kSliderSteps))
            << t.decibels;
    }

    wrapper->amplitudeSlider()->setValue(KOSignalGeneratorWrapper::kSliderSteps / 2);
    EXPECT_FLOAT_EQ(generator.Amplitude(), 0.125f);
    EXPECT_EQ(wrapper->amplitudeTextField()->text(), QStringLiteral("-18.1"));
    for (const float out : {2.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        wrapper->setA(out);
        EXPECT_EQ(generator.Amplitude(), out > 1.0f ? 1.0f : 0.0f) << out;
    }
    EXPECT_EQ(wrapper->amplitudeTextField()->text(), QStringLiteral("-inf"));
}

TEST_F(SignalGeneratorWrapperTest, TheOutputVolumeIsTheCubeOfItsSlider) {
    auto wrapper = make();
    wrapper->outVolumeSlider()->setValue(KOSignalGeneratorWrapper::kSliderSteps / 2);
    EXPECT_FLOAT_EQ(wrapper->signalGenerator()->Volume(), 0.125f);
    EXPECT_EQ(wrapper->outVolumeTextField()->text(), QStringLiteral("-18.1 dB"));
    wrapper->setOutVolume(1.0);
    EXPECT_EQ(wrapper->signalGenerator()->Volume(), 1.0f);
    EXPECT_EQ(wrapper->outVolumeTextField()->text(), QStringLiteral("0.0 dB"));
    EXPECT_EQ(wrapper->outVolumeSlider()->value(), KOSignalGeneratorWrapper::kSliderSteps);
}

// A lower engine rate pulls a frequency above its Nyquist limit down; once the device says it
// changed, the window shows the limited values on the new scale.
TEST_F(SignalGeneratorWrapperTest, AfterADeviceChangeTheControlsShowTheNewRatesScale) {
    auto wrapper = make(48000.0);
    wrapper->setF(20000.0f);
    wrapper->setSweepB(10.0f, 20000.0f);
    wrapper->signalGenerator()->SetEngineSampleRate(32000.0);
    koru::platform::NotificationCenter::defaultCenter().post(
        QString::fromLatin1(KOAudioDevice::kReloadAudioPropNotification));
    ASSERT_TRUE(koru::test::spinUntil(
        [&] { return wrapper->frequencyTextField()->text() == QStringLiteral("16000"); }));
    EXPECT_EQ(wrapper->frequencySlider()->value(), KOSignalGeneratorWrapper::kSliderSteps);
    EXPECT_EQ(wrapper->sweepHiTextField()->text(), QStringLiteral("16000"));
    EXPECT_EQ(wrapper->sweepBoundsSlider()->highValue(), 1.0);
}

TEST_F(SignalGeneratorWrapperTest, TheSweepRangeSetsBothBoundsFromKnobsOrFields) {
    auto wrapper = make(48000.0);
    KOAuxInSignalGenerator& generator = *wrapper->signalGenerator();
    emit wrapper->sweepBoundsSlider()->valuesChanged(0.0, 1.0);
    EXPECT_EQ(generator.SweepLow(), 10.0f);
    EXPECT_EQ(generator.SweepHigh(), 24000.0f);
    EXPECT_EQ(wrapper->sweepHiTextField()->text(), QStringLiteral("24000"));

    wrapper->sweepLoTextField()->setText(QStringLiteral("20000"));
    edit(wrapper->sweepHiTextField(), QStringLiteral("100")); // given high first: swapped
    EXPECT_EQ(generator.SweepLow(), 100.0f);
    EXPECT_EQ(generator.SweepHigh(), 20000.0f);
    EXPECT_EQ(wrapper->sweepLoTextField()->text(), QStringLiteral("100"));
    EXPECT_EQ(wrapper->sweepHiTextField()->text(), QStringLiteral("20000"));
    EXPECT_NEAR(wrapper->sweepBoundsSlider()->lowValue(), wrapper->x(100.0), 1e-4);
    EXPECT_NEAR(wrapper->sweepBoundsSlider()->highValue(), wrapper->x(20000.0), 1e-4);

    wrapper->sweepSpeedSlider()->setValue(250);
    EXPECT_DOUBLE_EQ(generator.Synthesis().sweepFactor(), 1.00025);
}

TEST_F(SignalGeneratorWrapperTest, TabsChooseTheSignalAndMuteIsMirrored) {
    auto wrapper = make();
    KOAuxInSignalGenerator& generator = *wrapper->signalGenerator();
    const char* identifiers[] = {"sine", "sweep", "pink", "white"};
    for (int type = 3; type >= 0; --type) {
        wrapper->tabView()->setCurrentIndex(type); // as a click on the tab does
        EXPECT_EQ(generator.SignalType(), type);
        EXPECT_EQ(wrapper->tabView()->currentWidget()->objectName(),
                  QString::fromLatin1(identifiers[type]));
    }
    wrapper->setSignalType(2);
    EXPECT_EQ(wrapper->tabView()->currentWidget()->objectName(), QStringLiteral("pink"));

    std::vector<bool> told;
    wrapper->setMuteStatusChanged([&](bool mute) { told.push_back(mute); });
    wrapper->toggleMute();
    EXPECT_TRUE(generator.Mute());
    EXPECT_TRUE(wrapper->muteCheckBox()->isChecked());
    wrapper->muteCheckBox()->click();
    EXPECT_FALSE(wrapper->mute());
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
}

// Only a dictionary of this class applies; what it lacks reads 0 and meets the setters' limits,
// and a type from a damaged file is brought among the four.
TEST_F(SignalGeneratorWrapperTest, SettingsLoadOnlyForThisClassAndPassTheLimits) {
    auto wrapper = make(48000.0);
    KOAuxInSignalGenerator& generator = *wrapper->signalGenerator();
    wrapper->loadSettingsFromDictionary({{QStringLiteral("KOType"), QStringLiteral("Other")},
                                         {QStringLiteral("SignalGenerator.Frequency"), 50.0}});
    EXPECT_EQ(generator.Frequency(), 1000.0f);

    wrapper->loadSettingsFromDictionary(
        {{QStringLiteral("KOType"), QStringLiteral("KOSignalGeneratorWrapper")}});
    EXPECT_EQ(generator.Frequency(), 10.0f);
    EXPECT_EQ(generator.Amplitude(), 0.0f);
    EXPECT_EQ(generator.SweepLow(), 10.0f);
    EXPECT_EQ(generator.SweepHigh(), 0.0f);
    EXPECT_EQ(generator.Synthesis().sweepFactor(), 1.0);
    EXPECT_EQ(generator.SignalType(), 0);
    EXPECT_FALSE(generator.Mute());
    EXPECT_FALSE(wrapper->isWindowVisible());

    struct Case {
        QVariant stored;
        std::int32_t type;
    };
    for (const Case& c :
         {Case{QVariant(9), 3}, Case{QVariant(-4), 0},
          Case{QVariant::fromValue(std::uint32_t(4294967295u)), 3}, Case{QVariant(2), 2}}) {
        wrapper->loadSettingsFromDictionary(
            {{QStringLiteral("KOType"), QStringLiteral("KOSignalGeneratorWrapper")},
             {QStringLiteral("SignalGenerator.Signal.Type"), c.stored}});
        EXPECT_EQ(generator.SignalType(), c.type) << c.stored.toString().toStdString();
        EXPECT_EQ(wrapper->tabView()->currentIndex(), c.type);
    }
}

// Written when the generator is removed, read by the next one: also under a decimal-comma
// locale, and a file that cannot be read leaves the defaults of a fresh generator.
TEST_F(SignalGeneratorWrapperTest, TheUserDefaultKeepsTheSettingsForTheNextGenerator) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active()) {
            GTEST_SKIP() << locale << " is not installed";
        }
        const QString path = freshPath("generator-defaults");
        {
            UserDefaults store(path);
            KOSignalGeneratorWrapper::Options options;
            options.output = std::make_unique<ManualOutput>(48000.0, true);
            options.defaults = &store;
            KOSignalGeneratorWrapper wrapper(std::move(options));
            wrapper.setF(1234.5f);
            wrapper.setA(0.25f);
            wrapper.setSweepB(20.5f, 15000.25f);
            wrapper.setSweepSpeed(1.5f);
            wrapper.setSignalType(1);
            wrapper.setMute(true);
            wrapper.showWindow(nullptr);
        }
        UserDefaults reread(path);
        const QVariantMap saved = reread.dictionaryForKey(kSettings);
        ASSERT_FALSE(saved.isEmpty()) << locale;
        EXPECT_EQ(saved.value(QStringLiteral("SignalGenerator.Frequency")).toDouble(), 1234.5);
        EXPECT_EQ(saved.value(QStringLiteral("Window.IsVisible")).toInt(), 1);

        KOSignalGeneratorWrapper::Options options;
        options.output = std::make_unique<ManualOutput>(48000.0, true);
        options.defaults = &reread;
        KOSignalGeneratorWrapper next(std::move(options));
        const KOAuxInSignalGenerator& generator = *next.signalGenerator();
        EXPECT_EQ(generator.Frequency(), 1234.5f) << locale;
        EXPECT_EQ(generator.Amplitude(), 0.25f) << locale;
        EXPECT_EQ(generator.SweepLow(), 20.5f) << locale;
        EXPECT_EQ(generator.SweepHigh(), 15000.25f) << locale;
        EXPECT_NEAR(generator.SweepSpeed(), 1.5f, 1e-3f) << locale;
        EXPECT_EQ(generator.SignalType(), 1) << locale;
        EXPECT_TRUE(generator.Mute()) << locale;
        EXPECT_TRUE(next.isWindowVisible()) << locale;
        EXPECT_EQ(next.frequencyTextField()->text(), QStringLiteral("1234")) << locale;
    }

    const QString damaged = freshPath("damaged-defaults");
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\"?><plist><dict><key>SignalGenerator.Settings</key>");
    }
    UserDefaults store(damaged);
    KOSignalGeneratorWrapper::Options options;
    options.output = std::make_unique<ManualOutput>(48000.0, true);
    options.defaults = &store;
    KOSignalGeneratorWrapper fresh(std::move(options));
    EXPECT_EQ(fresh.signalGenerator()->Frequency(), 1000.0f);
    EXPECT_TRUE(QFile::exists(damaged + QStringLiteral(".unreadable")));
}

namespace {

// Keeps the auxiliary channels 2 and 3 of every buffer the engine hands out.
class AuxRecorder : public ZOInputClient {
public:
    void Process(const AudioBufferList* buffers, std::uint32_t frames) override {
        if (buffers->mNumberBuffers < 4) {
            return;
        }
        const auto* left = static_cast<const float*>(buffers->mBuffers[2].mData);
        const auto* right = static_cast<const float*>(buffers->mBuffers[3].mData);
        std::lock_guard lock(mutex);
        this->left.insert(this->left.end(), left, left + frames);
        this->right.insert(this->right.end(), right, right + frames);
    }
    void SetNumberOfChannels(std::uint32_t count) override { m_numberOfChannels.store(count); }
    void ChannelsChanged(std::uint32_t, std::uint32_t) override {}

    std::mutex mutex;
    std::vector<float> left;
    std::vector<float> right;
};

class SignalGeneratorSessionTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        koru::platform::VirtualInputConfig config;
        config.name = QStringLiteral("Generator Test Input");
        config.channels = 2;
        config.sampleRate = 48000.0;
        config.manual = true;
        input = registry.addVirtualInput(config);
        collector = KODataCollectorThread::createPrivate();
    }
    void TearDown() override {
        device.reset();
        registry.removeDevice(input);
    }

    // Speakers at 44.1 kHz that refuse the engine's 48 kHz.
    std::unique_ptr<KOAudioDevice> makeDevice() {
        KOAudioDevice::Services services;
        services.collector = collector.get();
        auto made = std::make_unique<KOAudioDevice>(services);
        KOAudioDevice* raw = made.get();
        const auto options = [this, raw] {
            KOSignalGeneratorWrapper::Options options;
            auto output = std::make_unique<ManualOutput>(44100.0, false);
            speakers = output.get();
            options.output = std::move(output);
            options.defaults = &defaults;
            options.engineSampleRate = raw->nominalSampleRate();
            return options;
        };
        koru::AuxInputWrapperFactory factory;
        factory.create = [options] {
            return std::make_unique<KOSignalGeneratorWrapper>(options());
        };
        factory.createWithDictionary = [options](const QVariantMap& dictionary) {
            auto wrapper = std::make_unique<KOSignalGeneratorWrapper>(options());
            wrapper->loadSettingsFromDictionary(dictionary);
            return wrapper;
        };
        made->setAuxInputWrapperFactory(koru::AuxInputKind::SignalGenerator, factory);
        made->createAudioDevice(input);
        return made;
    }
    KOSignalGeneratorWrapper* wrapper() const {
        return static_cast<KOSignalGeneratorWrapper*>(device->signalGenerator());
    }

    koru::platform::DeviceRegistry& registry = koru::platform::DeviceRegistry::shared();
    std::uint32_t input = 0;
    std::unique_ptr<KODataCollectorThread> collector;
    UserDefaults defaults{freshPath("session-defaults")};
    ManualOutput* speakers = nullptr;
    std::unique_ptr<KOAudioDevice> device;
};

double peakOf(const std::vector<float>& x) {
    double peak = 0.0;
    for (const float v : x) {
        peak = std::max(peak, double(std::fabs(v)));
    }
    return peak;
}

} // namespace

// The generator's tone arrives on the engine's auxiliary channels at its frequency and level
// though the speakers run at another rate; its settings travel through a session file and are
// restored by the audio device, also under a decimal-comma locale.
TEST_P(SignalGeneratorSessionTest, TheToneReachesTheEngineAndTheSettingsTravelInSessions) {
    std::optional<koru::test::ScopedLocale> locale;
    if (GetParam() != nullptr) {
        locale.emplace(GetParam());
        if (!locale->active()) {
            GTEST_SKIP() << GetParam() << " is not installed";
        }
    }
    device = makeDevice();
    AuxRecorder recorder;
    device->addInputClient(&recorder);
    device->start();
    device->addSignalGenerator();
    ASSERT_NE(wrapper(), nullptr);
    EXPECT_EQ(device->totalNumberChannels(), 4u);
    EXPECT_EQ(device->nameForChannelAtIndex(2), QStringLiteral("Signal Generator 1"));
    EXPECT_TRUE(wrapper()->isWindowVisible()); // adding shows the window
    wrapper()->setF(1000.0f);
    wrapper()->setA(0.5f);

    // Speakers and input take turns, as their two clocks would.
    for (int pass = 0; pass < 40; ++pass) {
        speakers->pull(1024);
        ASSERT_TRUE(registry.virtualInput(input)->pump(1024));
    }
    {
        std::lock_guard lock(recorder.mutex);
        // Skip what the engine held before the generator's first frames arrived.
        const std::vector<float> left(recorder.left.begin() + 4096, recorder.left.end());
        ASSERT_GE(left.size(), 20u * 1024u);
        EXPECT_NEAR(koru::test::frequencyOf(left, 48000.0), 1000.0, 0.5);
        EXPECT_NEAR(peakOf(left), 0.5, 1e-3);
        EXPECT_EQ(recorder.left, recorder.right);
    }

    wrapper()->setSweepB(30.0f, 12000.5f);
    wrapper()->setSweepSpeed(0.75f);
    wrapper()->setF(2345.5f);
    wrapper()->setSignalType(2);
    wrapper()->setMute(true);
    wrapper()->window()->hide();
    const QVariantMap saved = device->dictionaryRepresentation();
    device->getKOAD()->RemoveClient(&recorder);
    device->stop();

    const QString path = freshPath("session");
    ASSERT_TRUE(koru::platform::PropertyList::write(path, saved, koru::platform::PlistFormat::Xml));
    const auto read = koru::platform::PropertyList::read(path);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();

    device.reset();
    defaults.removeObjectForKey(kSettings); // only the session speaks
    device = makeDevice();
    device->loadSettingsFromDictionary(read.value);
    ASSERT_NE(wrapper(), nullptr);
    const KOAuxInSignalGenerator& generator = *wrapper()->signalGenerator();
    EXPECT_EQ(generator.Frequency(), 2345.5f);
    EXPECT_EQ(generator.Amplitude(), 0.5f);
    EXPECT_EQ(generator.SweepLow(), 30.0f);
    EXPECT_EQ(generator.SweepHigh(), 12000.5f);
    EXPECT_NEAR(generator.SweepSpeed(), 0.75f, 1e-3f);
    EXPECT_EQ(generator.SignalType(), 2);
    EXPECT_TRUE(generator.Mute());
    EXPECT_EQ(generator.SampleRate(), 48000.0);
    EXPECT_FALSE(wrapper()->isWindowVisible());
    EXPECT_EQ(device->totalNumberChannels(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Locales, SignalGeneratorSessionTest,
                         ::testing::Values(nullptr, "de_DE.UTF-8"));
