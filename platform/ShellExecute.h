#pragma once
// Starting a file the way the desktop shell would, for the installer at the
// end of a download.
//
// Contract:
// - verb "runas": the file itself is started as a program (there is no
//   elevation here: it is a start of its own, which fails for a file that
//   cannot be executed). verb "open": a file with the execute bit is started
//   as a program; any other file, or one whose start fails, is handed to
//   xdg-open, the desktop's handler for files.
// - Success means the new process has passed exec (for "open" through
//   xdg-open: xdg-open has), seen through a close-on-exec pipe and waited for
//   at most waitMs; a process that has not got there by then counts as
//   started. The program runs on its own: it is never waited for or killed.
// - Failures are the result (false, with errno's number in *error when error
//   is not null); nothing is shown or logged.

#include <string>
#include <sys/types.h>

bool ShellExecuteFile(const std::string& path, const std::string& verb, int waitMs, pid_t* pid = nullptr,
                      int* error = nullptr);
