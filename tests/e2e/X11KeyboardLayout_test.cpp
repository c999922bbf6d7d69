#include "DesktopSession.h"

#include "platform/keyboard/X11KeyboardLayout.h"

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

using koru::platform::X11KeyboardLayout;
using namespace koru::test;

constexpr std::uint32_t kGroup2 = 1u << 13;

// The key a shortcut was typed on, read from a real X server's keyboard map, also after the map
// was changed to another layout and with a second keyboard group.
TEST(X11KeyboardLayout, TheUnshiftedKeysymComesFromTheServersMapInTheEventsGroup) {
    VirtualDisplay display;
    if (!display.started())
        GTEST_SKIP() << "Xvfb could not be started";
    xcb_connection_t* connection = xcb_connect(display.name().toLatin1().constData(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);

    // Keycode 10 as a French keyboard has it ('&' unshifted, '1' shifted); keycode 11 with a
    // second group.
    const std::vector<xcb_keysym_t> french{'&', '1', 0, 0};
    const std::vector<xcb_keysym_t> twoGroups{'2', '@', 'e', 'E'};
    const auto remap = [&](xcb_keycode_t keycode, const std::vector<xcb_keysym_t>& keysyms) {
        xcb_change_keyboard_mapping(connection, 1, keycode, std::uint8_t(keysyms.size()),
                                    keysyms.data());
    };
    struct Case {
        const char* name;
        std::uint32_t keycode;
        std::uint32_t state;
        std::optional<std::uint32_t> keysym;
    };
    const Case usCases[] = {
        {"1 with Shift", 10, 1, '1'},
        {"a", 38, 0, 'a'},
        {"unknown keycode", 3, 0, std::nullopt},
    };
    for (const Case& c : usCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(X11KeyboardLayout::unshiftedKeysym(connection, c.keycode, c.state), c.keysym);
    }

    remap(10, french);
    remap(11, twoGroups);
    xcb_flush(connection);
    const Case changedCases[] = {
        {"French 1 key", 10, 1, '&'},
        {"first group", 11, 0, '2'},
        {"second group", 11, kGroup2 | 1, 'e'},
        {"second group empty: first group", 10, kGroup2, '&'},
    };
    for (const Case& c : changedCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(X11KeyboardLayout::unshiftedKeysym(connection, c.keycode, c.state), c.keysym);
    }
    EXPECT_EQ(X11KeyboardLayout::unshiftedKeysym(nullptr, 10, 0), std::nullopt);
    xcb_disconnect(connection);
}

TEST(X11KeyboardLayout, PrintableKeysymsBecomeQtKeys) {
    struct Case {
        std::uint32_t keysym;
        int key;
    };
    const Case cases[] = {
        {'a', Qt::Key_A},
        {'z', Qt::Key_Z},
        {'1', Qt::Key_1},
        {'&', Qt::Key_Ampersand},
        {0xe9, Qt::Key_Eacute},
        {0xdf, Qt::Key_ssharp},
        {0xf7, Qt::Key_division},
        {0xffbe, 0}, // F1: left to Qt's own key
        {0x20ac, 0}, // the euro sign is not Latin-1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keysym);
        EXPECT_EQ(X11KeyboardLayout::qtKeyForKeysym(c.keysym), c.key);
    }
}

} // namespace
