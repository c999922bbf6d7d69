#pragma once

#include <QString>

#include <optional>

namespace koru {

// The user guide travels inside the program; to be shown it is copied where a viewer can open it.
class UserGuide {
public:
    static constexpr const char* kResource = ":/koru_user_guide.pdf";
    static constexpr const char* kFileName = "koru_user_guide.pdf";

    // Copies the guide into `folder` (the private temporary folder when empty) as
    // "koru_user_guide.pdf", always replacing what is there: a file or link planted under that
    // name is replaced, never written through and never opened. Answers the copy's path, or none
    // (logged) when the guide or the folder is missing or the copy fails. Any thread.
    static std::optional<QString>
    copyToPrivateFolder(const QString& folder = QString(),
                        const QString& resource = QString::fromLatin1(kResource));
};

} // namespace koru
