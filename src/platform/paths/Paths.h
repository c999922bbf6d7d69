#pragma once

#include <QString>

namespace koru::platform {

// Where KORU keeps its files, following the XDG base-directory rules. Each folder is created on
// first use.
QString applicationSupportDirectory(); // $XDG_DATA_HOME/KORU  (~/.local/share/KORU)
QString configDirectory();             // $XDG_CONFIG_HOME/KORU (~/.config/KORU)
QString stateDirectory();              // $XDG_STATE_HOME/KORU  (~/.local/state/KORU)

// A folder only this user can enter, for copies that other programs open: "KORU" in
// $XDG_RUNTIME_DIR when that folder is ours and private, otherwise a folder of its own made once
// per process in the temporary folder. Never a name another account could have made first: a
// folder that is not ours, not private, or a link is refused. Empty when none can be made.
QString privateTemporaryDirectory();

// The 32-bit FNV-1a hash of a string's UTF-8 bytes; names per-device files, stable across runs.
quint32 fnv1a32(const QString& text);

} // namespace koru::platform
