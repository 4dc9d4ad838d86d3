#pragma once
// The per-user folders the system stores things in. Each answer ends in '/'
// and is empty when it cannot be determined (no HOME and no XDG variable).

#include <string>

std::string UserHomeFolder();
// $XDG_DATA_HOME, default ~/.local/share: stands for the roaming application data.
std::string UserDataFolder();
// $XDG_CONFIG_HOME, default ~/.config.
std::string UserConfigFolder();
// $XDG_RUNTIME_DIR, default /tmp.
std::string UserRuntimeFolder();
