#pragma once
// Text from a server (list entries, file names, notices) shown on a terminal:
// control bytes and escape sequences would act on the terminal instead of
// being read, so each is shown as "\xNN" (a backslash as "\\").

#include <string>

std::string TerminalSafe(const std::string& text);
// The columns a terminal gives text: a UTF-8 character takes one, or two
// from U+1100 on (wide scripts start there; counting every such character
// as wide may leave room, never wraps); a byte that is no part of a valid
// character takes one (the terminal shows a replacement for it).
int ColumnsOf(const std::string& text);
// The longest start of text that takes at most columns, cut between
// characters.
std::string CutToColumns(const std::string& text, int columns);
