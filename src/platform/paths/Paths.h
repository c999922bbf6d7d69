#pragma once

#include <QString>

namespace koru::platform {

// Where KORU keeps its files, following the XDG base-directory rules. Each folder is created on
// first use.
QString applicationSupportDirectory(); // $XDG_DATA_HOME/KORU  (~/.local/share/KORU)
QString configDirectory();             // $XDG_CONFIG_HOME/KORU (~/.config/KORU)
QString stateDirectory();              // $XDG_STATE_HOME/KORU  (~/.local/state/KORU)

// The 32-bit FNV-1a hash of a string's UTF-8 bytes; names per-device files, stable across runs.
quint32 fnv1a32(const QString& text);

} // namespace koru::platform
