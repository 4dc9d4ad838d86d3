#pragma once
// Text from a server (list entries, file names, notices) shown on a terminal:
// control bytes and escape sequences would act on the terminal instead of
// being read, so each is shown as "\xNN" (a backslash as "\\").

#include <string>

std::string TerminalSafe(const std::string& text);
