#pragma once
// The per-user folders the system stores things in. Each answer ends in '/'
// and is empty when it cannot be determined (no HOME and no XDG variable).

#include <string>

std::string UserHomeFolder();
// $XDG_DATA_HOME, default ~/.local/share: stands for the roaming application data.
std::string UserDataFolder();
// $XDG_CONFIG_HOME, default ~/.config.
std::string UserConfigFolder();
// $XDG_STATE_HOME, default ~/.local/state: what a program keeps between runs
// that is neither settings nor data, such as logs.
std::string UserStateFolder();
// $XDG_RUNTIME_DIR, default /tmp.
std::string UserRuntimeFolder();
// A folder for locks that only this user reaches: $XDG_RUNTIME_DIR when it
// is a folder of ours closed to others, else "zdr-<uid>/" under $TMPDIR (or
// /tmp), made 0700 when missing. A name under a shared folder may have been
// taken by someone else first: when it is a link, another user's, or open to
// others, the answer is empty and *error says why.
std::string PrivateRuntimeFolder(std::string* error);
