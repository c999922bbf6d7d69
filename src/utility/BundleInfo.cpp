#include "utility/BundleInfo.h"

namespace koru::utility {

const BundleInfo& BundleInfo::mainBundle() {
    static const BundleInfo info{
        QStringLiteral("org.koru.KORU"), QStringLiteral("KORU"), QStringLiteral(KORU_BUILD),
        QStringLiteral(KORU_VERSION),    std::nullopt,
    };
    return info;
}

} // namespace koru::utility
