#include "platform/keyboard/X11KeyboardLayout.h"

#ifdef KORU_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace koru::platform {

std::optional<std::uint32_t>
X11KeyboardLayout::unshiftedKeysym(void* connection, std::uint32_t keycode, std::uint32_t state) {
#ifdef KORU_HAVE_XCB
    if (connection == nullptr || keycode < 8 || keycode > 255)
        return std::nullopt;
    auto* xcb = static_cast<xcb_connection_t*>(connection);
    const xcb_get_keyboard_mapping_cookie_t cookie =
        xcb_get_keyboard_mapping(xcb, static_cast<xcb_keycode_t>(keycode), 1);
    const std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> reply(
        xcb_get_keyboard_mapping_reply(xcb, cookie, nullptr), &std::free);
    if (!reply || reply->keysyms_per_keycode == 0)
        return std::nullopt;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int count = xcb_get_keyboard_mapping_keysyms_length(reply.get());
    // The core map lists each group's two levels in turn; the group is in bits 13-14 of the state.
    const int column = int((state >> 13) & 3u) * 2;
    if (column < count && keysyms[column] != 0)
        return keysyms[column];
    if (count > 0 && keysyms[0] != 0)
        return keysyms[0];
    return std::nullopt;
#else
    (void)connection;
    (void)keycode;
    (void)state;
    return std::nullopt;
#endif
}

int X11KeyboardLayout::qtKeyForKeysym(std::uint32_t keysym) {
    if (keysym >= 'a' && keysym <= 'z')
        return int(keysym - 'a' + 'A');
    // Latin-1 small letters with accents map to their capitals, as Qt names those keys.
    if (keysym >= 0xe0 && keysym <= 0xfe && keysym != 0xf7)
        return int(keysym - 0x20);
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return int(keysym);
    return 0;
}

} // namespace koru::platform
