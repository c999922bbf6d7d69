#pragma once

#include <Qt>

#include <functional>

namespace koru::framework {

// The modifier keys held right now, as menu and button actions ask for them ("B follows A with
// Shift held"). Tests replace the keyboard with a provider of their own. Main thread only.
class KeyboardModifierSource {
public:
    using Provider = std::function<Qt::KeyboardModifiers()>;

    static Qt::KeyboardModifiers current();
    // An empty provider goes back to the keyboard.
    static void setProvider(Provider provider);
};

} // namespace koru::framework
