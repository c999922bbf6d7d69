#include "PreferencesTestSupport.h"

#include "app/InstrumentRegistry.h"
#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/ui/KOAppController.h"
#include "engine/KOAudioDevice.h"
#include "inputpatch/ui/KOInputPatchController.h"
#include "inputpatch/ui/KOInputPatchView.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/SerialQueue.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

#include <memory>

namespace {

QAction* audioMenuItem(const QMainWindow& window, const QString& title) {
    for (QAction* menu : window.menuBar()->actions()) {
        if (menu->text() != QStringLiteral("Audio") || !menu->menu())
            continue;
        for (QAction* item : menu->menu()->actions())
            if (item->text() == title)
                return item;
    }
    return nullptr;
}

TEST(AppControllerInputPatch, TheAudioMenuOpensOneInputPatchWindowForTheRun) {
    koru::platform::UserDefaults defaults{koru::test::freshDefaultsPath("input-patch")};
    KOGrowlNotificationCenter notifications{std::make_unique<koru::test::DiscardingSink>(),
                                            defaults};
    KOPreferences preferences{defaults, notifications};
    KOAudioDevice device{KOAudioDevice::Services{}};
    koru::InstrumentRegistry registry;
    koru::platform::SerialQueue queue{"test background"};
    KOAppController::Services services;
    services.defaults = &defaults;
    services.preferences = &preferences;
    services.audioDevice = &device;
    services.registry = &registry;
    services.backgroundQueue = &queue;
    services.bus = QDBusConnection(QStringLiteral("no bus"));
    services.quit = [] {};
    KOAppController controller(std::move(services));

    EXPECT_EQ(controller.inputPatchController(), nullptr);
    QAction* item = audioMenuItem(*controller.mainWindow(), QStringLiteral("Input Patch…"));
    ASSERT_NE(item, nullptr);
    item->trigger();
    KOInputPatchController* window = controller.inputPatchController();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Input Patch"));
    EXPECT_EQ(window->patchView()->patchMatrix(), device.inputPatchMatrix());

    window->close();
    item->trigger();
    EXPECT_EQ(controller.inputPatchController(), window);
    EXPECT_TRUE(window->isVisible());
    device.stop();
}

} // namespace
