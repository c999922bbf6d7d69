#pragma once

#include <QString>

#include <optional>

namespace koru::utility {

// The program's identity as the build stamps it. Each entry may be missing, so the fallbacks of
// the string operations can be exercised with a hand-made value.
struct BundleInfo {
    std::optional<QString> identifier;
    std::optional<QString> name;
    std::optional<QString> version;      // the build number
    std::optional<QString> shortVersion; // the release version
    std::optional<QString> copyright;

    static const BundleInfo& mainBundle();
};

} // namespace koru::utility
