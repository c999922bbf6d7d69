#pragma once

#include <QString>

namespace koru::platform {

// Asks the desktop's file manager over the session bus to show `path` selected in its folder
// (org.freedesktop.FileManager1.ShowItems). False when no bus or no file manager answers; the
// caller then opens the folder some other way.
bool showItemInFileManager(const QString& path);

} // namespace koru::platform
