#pragma once

namespace koru {

// When this program was built, as the compiler gives it ("Dec 11 2026", "14:05:09"). Kept in a
// file of its own so that only that file is compiled anew for every build.
const char* buildDate();
const char* buildTime();

} // namespace koru
