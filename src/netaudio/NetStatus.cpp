#include "NetStatus.h"

namespace koru::netaudio {

const char* netStatusText(int status) {
    static constexpr const char* kTexts[] = {"Not Connected", "Connected",  "Overflow",
                                             "Underflow",     "Connecting", "Listening"};
    return status >= 0 && status <= 5 ? kTexts[status] : nullptr;
}

} // namespace koru::netaudio
