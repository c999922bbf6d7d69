#include "app/BuildStamp.h"

namespace koru {

const char* buildDate() {
    return __DATE__;
}

const char* buildTime() {
    return __TIME__;
}

} // namespace koru
