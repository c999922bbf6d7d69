#pragma once

#include <QString>

namespace koru::platform {

// Renames a file that cannot be read out of the way of the next write, never over an earlier one:
// "<path>.unreadable", then "<path>.unreadable.2", ... It may hold what the user wants back.
// Answers the new path, or an empty string when the rename failed.
QString keepUnreadableAside(const QString& path);

// The same, worded for a log line: "kept as <new path>" or "it could not be moved aside".
QString keepUnreadableAsideText(const QString& path);

} // namespace koru::platform
