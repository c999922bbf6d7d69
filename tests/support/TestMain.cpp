#if defined(KORU_TEST_UI)
#include <QApplication>
using TestApplication = QApplication;
#elif defined(KORU_TEST_GUI)
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

// Every test process gets fresh XDG folders, the offscreen platform and the "C" locale as a
// baseline; tests that need another locale switch it themselves. The application object is the
// least the program's kind needs, so a headless test that reaches for widgets fails.
int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + "/koru-test-XXXXXX");
    const QString base = root.path();
    for (const char* sub : {"data", "config", "state"})
        QDir().mkpath(base + "/" + sub);
    qputenv("KORU_TEST_ROOT", base.toUtf8());
    qputenv("XDG_DATA_HOME", (base + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (base + "/config").toUtf8());
    qputenv("XDG_STATE_HOME", (base + "/state").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("KORU_AUDIO_API"))
        qputenv("KORU_AUDIO_API", "virtual");
    // Tests find senders through the in-process registry only: nothing is announced on, or
    // found from, the network.
    if (qEnvironmentVariableIsEmpty("KORU_DNSSD"))
        qputenv("KORU_DNSSD", "off");

    TestApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
