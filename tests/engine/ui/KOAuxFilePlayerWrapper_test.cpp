#include "engine/ui/KOAuxFilePlayerWrapper.h"

#include "engine/EngineTestSupport.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "engine/ui/FilePlayerView.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/plist/PropertyList.h"
#include "support/TestAudioFiles.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using koru::test::ManualOutput;

namespace {

class ScriptedAlerts : public koru::AlertPresenter {
public:
    Response runModal(const koru::Alert& alert) override {
        shown.push_back(alert);
        return Response::Default;
    }
    std::vector<koru::Alert> shown;
};

// An output that refuses the player's format, as a missing or forbidden output unit would.
class RefusingOutput : public ManualOutput {
public:
    RefusingOutput() : ManualOutput(48000.0, true) {}
    OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         const void* data, std::uint32_t size) override {
        if (id == kAudioUnitProperty_StreamFormat) {
            return kAudioUnitErr_FormatNotSupported;
        }
        return ManualOutput::setProperty(id, scope, element, data, size);
    }
};

class FilePlayerWrapperTest : public ::testing::Test {
protected:
    KOAuxFilePlayerWrapper::Services services(bool refuse = false) {
        KOAuxFilePlayerWrapper::Services made;
        made.alerts = mAlerts;
        made.output = [this, refuse]() -> std::unique_ptr<koru::platform::AudioUnitInstance> {
            if (refuse) {
                return std::make_unique<RefusingOutput>();
            }
            auto output = std::make_unique<ManualOutput>(48000.0, true);
            mOutputs.push_back(output.get());
            return output;
        };
        return made;
    }

    QString writeRamps(const QString& name, std::int64_t frames) {
        const QString path = mFolder.filePath(name);
        EXPECT_TRUE(koru::test::writeSoundFile(path.toStdString(), SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                               koru::test::ramps(48000, frames, 2)));
        return path;
    }

    static float outputVolume(KOAuxFilePlayerWrapper& wrapper) {
        return wrapper.filePlayer()->Volume();
    }

    QTemporaryDir mFolder;
    std::shared_ptr<ScriptedAlerts> mAlerts = std::make_shared<ScriptedAlerts>();
    std::vector<ManualOutput*> mOutputs;
};

TEST_F(FilePlayerWrapperTest, ANewPlayerShowsItsWindowWithThePlayerViewAt0dB) {
    const auto wrapper = KOAuxFilePlayerWrapper::make(services());
    ASSERT_NE(wrapper, nullptr);
    ASSERT_NE(wrapper->filePlayer(), nullptr);
    EXPECT_EQ(wrapper->auxInput(), wrapper->filePlayer());
    EXPECT_TRUE(wrapper->isWindowVisible());
    EXPECT_EQ(wrapper->window()->objectName(), QStringLiteral("fileplayer"));
    EXPECT_EQ(wrapper->window()->windowTitle(), QStringLiteral("File Player"));
    EXPECT_EQ(wrapper->scrollView()->widget(), wrapper->playerView());
    EXPECT_EQ(outputVolume(*wrapper), 1.0f);
    EXPECT_EQ(wrapper->volumeSlider()->value(), wrapper->volumeSlider()->maximum());
    EXPECT_EQ(wrapper->volumeTextField()->text(), QStringLiteral("0.0 dB"));
    EXPECT_EQ(wrapper->filePlayer()->Name(0), QStringLiteral("File Player 1"));
    EXPECT_EQ(wrapper->filePlayer()->Name(1), QStringLiteral("File Player 2"));
    EXPECT_EQ(wrapper->filePlayer()->Name(2), QStringLiteral("File Player"));
}

TEST_F(FilePlayerWrapperTest, ShowingTheWindowAgainKeepsTheOnePlayerAndItsView) {
    const auto wrapper = KOAuxFilePlayerWrapper::make(services());
    KOAuxInFilePlayer* player = wrapper->filePlayer();
    koru::FilePlayerView* view = wrapper->playerView();
    wrapper->showWindow(nullptr);
    wrapper->showWindow(nullptr);
    EXPECT_EQ(wrapper->filePlayer(), player);
    EXPECT_EQ(wrapper->playerView(), view);
    EXPECT_EQ(mOutputs.size(), 1u);
}

TEST_F(FilePlayerWrapperTest, APlayerThatCannotBeMadeRaisesTheAlertAndLeavesNone) {
    EXPECT_EQ(KOAuxFilePlayerWrapper::make(services(true)), nullptr);
    QVariantMap visible{{QStringLiteral("KOType"), QStringLiteral("KOAuxFilePlayerWrapper")},
                        {QStringLiteral("Window.IsVisible"), 1}};
    EXPECT_EQ(KOAuxFilePlayerWrapper::makeWithDictionary(visible, services(true)), nullptr);
    // One alert each: the restore does not ask twice.
    ASSERT_EQ(mAlerts->shown.size(), 2u);
    for (const koru::Alert& alert : mAlerts->shown) {
        EXPECT_EQ(alert.messageText, QStringLiteral("Failed to load AUFilePlayer"));
        EXPECT_EQ(alert.informativeText,
                  QStringLiteral("Failed to load the AUFilePlayer Audio Unit, which should be "
                                 "provided by your system. Please check your installation and "
                                 "permissions. Maybe the Application Sandbox does not permit "
                                 "access."));
        EXPECT_EQ(alert.defaultButton, QStringLiteral("OK"));
    }
}

TEST_F(FilePlayerWrapperTest, TheVolumeSliderFollowsANumberSetInCode) {
    const auto wrapper = KOAuxFilePlayerWrapper::make(services());
    wrapper->setOutputVolume(0.5);
    EXPECT_EQ(wrapper->volumeSlider()->value(), wrapper->volumeSlider()->maximum() / 2);
    EXPECT_EQ(wrapper->volumeTextField()->text(), QStringLiteral("-18.1 dB"));
    EXPECT_FLOAT_EQ(outputVolume(*wrapper), 0.125f);
}

// The file reaches the engine through the speakers' tee: what the engine reads is the file.
TEST_F(FilePlayerWrapperTest, ALoadedFileReachesTheEngineChannels) {
    const auto wrapper = KOAuxFilePlayerWrapper::make(services());
    ASSERT_TRUE(wrapper->loadFile(writeRamps(QStringLiteral("ramps.wav"), 48000)));
    KOAuxInFilePlayer& input = *wrapper->filePlayer();
    input.Start();
    koru::FilePlayerUnit& player = input.Player();
    player.play();
    ASSERT_TRUE(player.waitUntilIdle());
    mOutputs.front()->pull(1024);

    koru::test::BufferListStorage engine(4, 1024);
    input.Render(engine.list(), 2, 1024);
    for (std::int64_t i = 0; i < 1024; ++i) {
        ASSERT_EQ(engine.channel(2)[std::size_t(i)], koru::test::rampValue(i, 0)) << i;
        ASSERT_EQ(engine.channel(3)[std::size_t(i)], koru::test::rampValue(i, 1)) << i;
    }
}

// ---- the view ---------------------------------------------------------------------------------

template <typename Widget> Widget* child(koru::FilePlayerView* view, const char* name) {
    return view->findChild<Widget*>(QString::fromLatin1(name));
}

TEST_F(FilePlayerWrapperTest, TheViewShowsTheFileAndFollowsPlayingToTheEnd) {
    const auto wrapper = KOAuxFilePlayerWrapper::make(services());
    koru::FilePlayerView* view = wrapper->playerView();
    ASSERT_TRUE(wrapper->loadFile(writeRamps(QStringLiteral("two seconds.wav"), 96000)));
    EXPECT_EQ(child<QLabel>(view, "name")->text(), QStringLiteral("two seconds.wav"));
    EXPECT_EQ(child<QLabel>(view, "duration")->text(), QStringLiteral("0:02"));
    EXPECT_EQ(child<QLabel>(view, "total")->text(), QStringLiteral("0:02"));
    EXPECT_EQ(child<QLabel>(view, "elapsed")->text(), QStringLiteral("0:00"));

    auto* play = child<QPushButton>(view, "play");
    play->click();
    EXPECT_EQ(play->text(), QStringLiteral("Pause"));
    koru::FilePlayerUnit& player = wrapper->filePlayer()->Player();
    EXPECT_TRUE(player.isPlaying());
    wrapper->filePlayer()->Start();
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(player.waitUntilIdle());
        mOutputs.front()->pull(1024);
    }
    view->refresh();
    EXPECT_EQ(play->text(), QStringLiteral("Play"));
    EXPECT_EQ(child<QLabel>(view, "elapsed")->text(), QStringLiteral("0:02"));
    auto* slider = child<QSlider>(view, "position");
    EXPECT_EQ(slider->value(), slider->maximum());
}

TEST_F(FilePlayerWrapperTest, TheSliderSeeksAndStopRewinds) {
    const auto wrapper = KOAuxFilePlayerWrapper::make(services());
    koru::FilePlayerView* view = wrapper->playerView();
    ASSERT_TRUE(wrapper->loadFile(writeRamps(QStringLiteral("ramps.wav"), 96000)));
    koru::FilePlayerUnit& player = wrapper->filePlayer()->Player();
    auto* slider = child<QSlider>(view, "position");
    slider->setSliderPosition(1500);
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    ASSERT_TRUE(player.waitUntilIdle());
    EXPECT_NEAR(player.position(), double(slider->sliderPosition()) / 1000, 1e-9);
    view->refresh();
    EXPECT_EQ(child<QLabel>(view, "elapsed")->text(), QStringLiteral("0:01"));

    child<QPushButton>(view, "stop")->click();
    ASSERT_TRUE(player.waitUntilIdle());
    view->refresh();
    EXPECT_EQ(player.position(), 0.0);
    EXPECT_EQ(slider->value(), 0);
}

TEST_F(FilePlayerWrapperTest, AFileThatCannotBePlayedIsReportedAndTheViewStaysEmpty) {
    const auto wrapper = KOAuxFilePlayerWrapper::make(services());
    koru::FilePlayerView* view = wrapper->playerView();
    const QString cut = writeRamps(QStringLiteral("cut.wav"), 48000);
    koru::test::cutFile(cut.toStdString(), 0.5);
    EXPECT_FALSE(wrapper->loadFile(cut));
    ASSERT_EQ(mAlerts->shown.size(), 1u);
    EXPECT_EQ(mAlerts->shown[0].messageText, QStringLiteral("The file cannot be played"));
    EXPECT_TRUE(mAlerts->shown[0].informativeText.contains(QStringLiteral("\"cut.wav\"")));
    EXPECT_TRUE(mAlerts->shown[0].informativeText.contains(QStringLiteral("cut short")));
    EXPECT_FALSE(wrapper->filePlayer()->Player().hasFile());
    EXPECT_EQ(child<QLabel>(view, "name")->text(), QStringLiteral("No file"));
    EXPECT_FALSE(child<QPushButton>(view, "play")->isEnabled());
}

TEST(FilePlayerView, TimeText) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {{0.0, "0:00"},   {0.99, "0:00"},      {7.5, "0:07"},
                 {205.0, "3:25"}, {3725.0, "1:02:05"}, {-1.0, "0:00"}};
    for (const auto& c : cases) {
        EXPECT_EQ(koru::FilePlayerView::timeText(c.seconds), QString::fromLatin1(c.text))
            << c.seconds;
    }
}

// ---- saved with the audio settings ------------------------------------------------------------

// The file player goes into a session and comes back from it: hidden or shown as it was, at
// 0 dB whatever was set, its parameters written. The settings pass through a property-list file
// under a decimal-comma locale on the way.
TEST_F(FilePlayerWrapperTest, ASessionRoundTripRestoresThePlayer) {
    koru::test::ScopedLocale german("de_DE.UTF-8");
    if (!german.active()) {
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    }
    koru::platform::VirtualInputConfig config;
    config.name = QStringLiteral("Player Test Input");
    config.channels = 2;
    config.sampleRate = 48000.0;
    config.manual = true;
    auto& registry = koru::platform::DeviceRegistry::shared();
    const std::uint32_t input = registry.addVirtualInput(config);
    const auto collector = KODataCollectorThread::createPrivate();
    const auto makeDevice = [&] {
        KOAudioDevice::Services deviceServices;
        deviceServices.collector = collector.get();
        deviceServices.alerts = mAlerts;
        auto device = std::make_unique<KOAudioDevice>(deviceServices);
        device->setAuxInputWrapperFactory(koru::AuxInputKind::FilePlayer,
                                          KOAuxFilePlayerWrapper::factory(services()));
        device->createAudioDevice(input);
        return device;
    };

    for (const bool visible : {false, true}) {
        SCOPED_TRACE(visible ? "visible" : "hidden");
        QVariant saved;
        {
            const auto device = makeDevice();
            device->addFilePlayer();
            auto* wrapper = static_cast<KOAuxFilePlayerWrapper*>(device->filePlayer());
            ASSERT_NE(wrapper, nullptr);
            EXPECT_EQ(device->nameForChannelAtIndex(2), QStringLiteral("File Player 1"));
            wrapper->setOutputVolume(0.3);
            if (!visible) {
                wrapper->close();
            }
            const QString file = mFolder.filePath(QStringLiteral("settings.plist"));
            ASSERT_TRUE(koru::platform::PropertyList::write(
                file, device->dictionaryRepresentation(), koru::platform::PlistFormat::Xml));
            const auto read = koru::platform::PropertyList::read(file);
            ASSERT_TRUE(read.ok()) << read.error.toStdString();
            saved = read.value;
        }
        const QVariantList aux =
            saved.toMap().value(QStringLiteral("AudioDevice.AuxInputs")).toList();
        ASSERT_EQ(aux.size(), 1);
        const QVariantMap entry = aux[0].toMap();
        EXPECT_EQ(entry.value(QStringLiteral("KOType")).toString(),
                  QStringLiteral("KOAuxFilePlayerWrapper"));
        EXPECT_EQ(entry.value(QStringLiteral("Window.IsVisible")).toInt(), visible ? 1 : 0);
        const QVariantMap parameters =
            entry.value(QStringLiteral("AuxInput.GeneratorAU.ParameterDictionary")).toMap();
        EXPECT_TRUE(parameters.contains(QStringLiteral("AuxInput.GeneratorAU.ParameterID")));
        EXPECT_TRUE(parameters.contains(QStringLiteral("AuxInput.GeneratorAU.ParameterValue")));

        const auto device = makeDevice();
        device->loadSettingsFromDictionary(saved);
        auto* restored = static_cast<KOAuxFilePlayerWrapper*>(device->filePlayer());
        ASSERT_NE(restored, nullptr);
        EXPECT_EQ(restored->isWindowVisible(), visible);
        EXPECT_EQ(outputVolume(*restored), 1.0f);
        EXPECT_EQ(restored->volumeSlider()->value(), restored->volumeSlider()->maximum());
        EXPECT_EQ(device->nameForChannelAtIndex(3), QStringLiteral("File Player 2"));
    }
    registry.removeDevice(input);
}

} // namespace
