#pragma once

#include <cstdint>
#include <optional>

namespace koru::platform {

// The keyboard layout as the X server maps it, for reading which key a shortcut was typed on:
// Ctrl+Shift+1 reaches a program as Ctrl+Shift+'!' on a US keyboard and as Ctrl+Shift+'!' or
// something else entirely on others, while the shortcut is about the key.
class X11KeyboardLayout {
public:
    // The keysym the key gives without Shift in the keyboard group the event's state names (the
    // first group when that one is empty). `connection` is the program's xcb_connection_t; none
    // for a missing connection, an unknown key, or a server that does not answer.
    static std::optional<std::uint32_t> unshiftedKeysym(void* connection, std::uint32_t keycode,
                                                        std::uint32_t state);
    // The Qt key of a printable Latin-1 keysym (letters as their upper-case key, which is how Qt
    // names them); 0 for any other keysym.
    static int qtKeyForKeysym(std::uint32_t keysym);
};

} // namespace koru::platform
