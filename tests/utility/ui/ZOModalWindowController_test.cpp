#include "../UtilityTestSupport.h"

#include "utility/ui/ZOModalWindowController.h"

#include <QTimer>

namespace {

TEST(ZOModalWindowController, RunModalAnswersTheEndingCode) {
    struct Case {
        const char* what;
        void (ZOModalWindowController::*end)();
        int code;
    };
    const std::vector<Case> cases = {{"ok", &ZOModalWindowController::ok, 1},
                                     {"cancel", &ZOModalWindowController::cancel, 0},
                                     {"escape", &ZOModalWindowController::reject, 0}};
    for (const Case& c : cases) {
        ZOModalWindowController dialog;
        dialog.resize(200, 100);
        bool wasShown = false;
        QTimer::singleShot(0, &dialog, [&] {
            wasShown = dialog.isVisible();
            (dialog.*c.end)();
        });
        EXPECT_EQ(dialog.runModal(), c.code) << c.what;
        EXPECT_TRUE(wasShown) << c.what;
        EXPECT_FALSE(dialog.isVisible()) << c.what;
    }
}

} // namespace
