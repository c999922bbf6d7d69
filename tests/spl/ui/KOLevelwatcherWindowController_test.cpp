#include "app/ScriptedUiPrompter.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/SerialQueue.h"
#include "spl/KOLocalLevelwatcher.h"
#include "spl/KOStatusTransformer.h"
#include "spl/ui/KOLevelwatcherWindowController.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

class KOLevelwatcherWindowControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        koru::setUiPrompter(&prompter);
        KOLocalLevelwatcher::Services services;
        services.defaults = &defaults;
        services.backgroundQueue = &queue;
        services.program = LEVELWATCH_PROGRAM;
        services.docRoot = folder.filePath("web");
        services.hostAddresses = [] { return QStringList{"192.168.7.7"}; };
        server = std::make_unique<KOLocalLevelwatcher>(std::move(services));
        controller = std::make_unique<KOLevelwatcherWindowController>(*server);
        controller->showWindow();
    }

    QImage light() const { return controller->statusLight()->pixmap().toImage(); }

    koru::test::ScriptedUiPrompter prompter;
    QTemporaryDir folder;
    koru::platform::UserDefaults defaults{folder.filePath("defaults.plist")};
    koru::platform::SerialQueue queue{"test.background"};
    std::unique_ptr<KOLocalLevelwatcher> server;
    std::unique_ptr<KOLevelwatcherWindowController> controller;
};

TEST_F(KOLevelwatcherWindowControllerTest, StartShowsTheAddressStopClearsItAndTheLightFollows) {
    EXPECT_EQ(controller->window()->windowTitle(), "SPL Server");
    EXPECT_EQ(light(), KOStatusTransformer::imageForStatus(0));
    EXPECT_FALSE(controller->stopButton()->isEnabled());
    EXPECT_FALSE(controller->linkButton()->isEnabled());

    const std::uint16_t port = freePort();
    server->setPort(port);
    const QString address = QString("http://192.168.7.7:%1").arg(port);
    QTest::mouseClick(controller->startButton(), Qt::LeftButton);
    EXPECT_FALSE(controller->startButton()->isEnabled()); // while starting
    EXPECT_EQ(light(), KOStatusTransformer::imageForStatus(-1));
    ASSERT_TRUE(koru::test::spinUntil(
        [&] { return server->status() != KOLocalLevelwatcher::Starting; }, 30000));
    ASSERT_EQ(server->status(), KOLocalLevelwatcher::Running);
    queue.waitUntilIdle();
    ASSERT_TRUE(koru::test::spinUntil([&] { return controller->linkButton()->isEnabled(); }));
    EXPECT_EQ(controller->linkButton()->text(), address);
    EXPECT_EQ(controller->linkButton()->property("urlString").toString(), address);
    EXPECT_EQ(light(), KOStatusTransformer::imageForStatus(1));
    EXPECT_TRUE(controller->stopButton()->isEnabled());

    QTest::mouseClick(controller->linkButton(), Qt::LeftButton);
    ASSERT_EQ(prompter.openedUrls.size(), 1u);
    EXPECT_EQ(prompter.openedUrls[0], QUrl(address));

    QTest::mouseClick(controller->stopButton(), Qt::LeftButton);
    EXPECT_EQ(light(), KOStatusTransformer::imageForStatus(0));
    EXPECT_FALSE(controller->linkButton()->isEnabled());
    EXPECT_TRUE(prompter.alerts.empty());
}

TEST_F(KOLevelwatcherWindowControllerTest, AFailedStartIsShownInAnAlert) {
    server->setPort(70000);
    QTest::mouseClick(controller->startButton(), Qt::LeftButton);
    ASSERT_TRUE(koru::test::spinUntil([&] { return !prompter.alerts.empty(); }));
    EXPECT_EQ(prompter.alerts[0].messageText, "The SPL server could not be started.");
    EXPECT_EQ(prompter.alerts[0].informativeText, "The port 70000 is not between 1 and 65535.");
    EXPECT_EQ(light(), KOStatusTransformer::imageForStatus(0));
}

TEST_F(KOLevelwatcherWindowControllerTest, ShowWebFolderOpensTheFolder) {
    QTest::mouseClick(controller->showFolderButton(), Qt::LeftButton);
    ASSERT_EQ(prompter.openedUrls.size(), 1u);
    EXPECT_EQ(prompter.openedUrls[0], QUrl::fromLocalFile(folder.filePath("web")));
}

} // namespace
