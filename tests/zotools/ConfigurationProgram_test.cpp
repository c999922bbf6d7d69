#include "HardwareTestSupport.h"

#include "support/TestSupport.h"
#include "zotools/ZOAudioHardwareDevice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using koru::platform::AudioBackend;
using koru::platform::DeviceRegistry;

// A PATH of the test's own holding stand-ins for the mixers; each leaves a mark when started.
class FakePrograms {
public:
    FakePrograms() : mPath(qgetenv("PATH")) { qputenv("PATH", mFolder.path().toUtf8()); }
    ~FakePrograms() { qputenv("PATH", mPath); }
    void install(const QString& name) {
        QFile program(QDir(mFolder.path()).filePath(name));
        ASSERT_TRUE(program.open(QIODevice::WriteOnly));
        program.write(
            QStringLiteral("#!/bin/sh\necho started > \"%1\"\n").arg(markOf(name)).toUtf8());
        program.close();
        program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString markOf(const QString& name) const {
        return QDir(mFolder.path()).filePath(name + QStringLiteral(".started"));
    }
    QString folder() const { return mFolder.path(); }

private:
    QTemporaryDir mFolder;
    QByteArray mPath;
};

} // namespace

// A hardware device's configuration program is its sound server's mixer, offered only when
// installed; ALSA and the virtual devices have none, and nothing is started for them.
TEST(ConfigurationProgram, IsTheSoundServersMixerWhereOneIsInstalled) {
    struct Case {
        const char* what;
        AudioBackend backend;
        QStringList installed;
        bool virtualDevice;
        QString program; // expected name; empty: none
        bool offered;
    };
    const Case cases[] = {
        {"PulseAudio with pavucontrol",
         AudioBackend::Pulse,
         {"pavucontrol", "qjackctl"},
         false,
         "pavucontrol",
         true},
        {"PulseAudio without it", AudioBackend::Pulse, {"qjackctl"}, false, "pavucontrol", false},
        {"JACK with qjackctl",
         AudioBackend::Jack,
         {"pavucontrol", "qjackctl"},
         false,
         "qjackctl",
         true},
        {"JACK without it", AudioBackend::Jack, {"pavucontrol"}, false, "qjackctl", false},
        {"ALSA", AudioBackend::Alsa, {"pavucontrol", "qjackctl", "alsamixer"}, false, "", false},
        {"a virtual input under PulseAudio", AudioBackend::Pulse, {"pavucontrol"}, true, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePrograms programs;
        for (const QString& name : c.installed)
            programs.install(name);
        DeviceRegistry registry(
            c.backend, [] { return std::optional(std::vector{koru::test::card("Line", 2, 2)}); });
        registry.refresh();
        const AudioObjectID id =
            c.virtualDevice
                ? registry.virtualInputDevice()
                : ZOAudioHardwareSystem(registry).deviceForUID(
                      QStringLiteral("%1:Line").arg(koru::platform::audioBackendName(c.backend)));
        ASSERT_NE(id, 0u);
        const ZOAudioHardwareDevice device(id, registry);
        EXPECT_EQ(device.configurationApplicationBundle(), c.program);
        EXPECT_EQ(device.pathToConfigurationApplication().isEmpty(), !c.offered);
        if (c.offered) {
            EXPECT_EQ(QFileInfo(device.pathToConfigurationApplication()).dir().path(),
                      programs.folder());
        }
        EXPECT_EQ(device.iconForConfigurationApplication().isNull(), !c.offered);

        device.launchConfigurationApplication();
        if (c.offered) {
            EXPECT_TRUE(koru::test::spinUntil(
                [&] { return QFile::exists(programs.markOf(c.program)); }, 10000))
                << "the mixer was not started";
        }
        // Only the program that belongs to the server is started, never another.
        for (const QString& name : c.installed) {
            if (!c.offered || name != c.program) {
                EXPECT_FALSE(QFile::exists(programs.markOf(name))) << name.toStdString();
            }
        }
    }
}
