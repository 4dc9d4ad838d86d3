#pragma once
// The file version of one of our executables, read from the file without
// running it: an ELF note (owner "ZDR", type 1) whose descriptor is the
// version text, put there at build time by cmake/ZdrVersionNote.cmake.
//
// Contract: the file is only read, never trusted: every offset and size is
// checked against the file's length. A missing or unreadable file, a file
// that is not a native ELF file (class and byte order of this build), a
// malformed one, one without the note or with a note whose text is not
// NUL-terminated within its descriptor all read as the empty version.

#include <string>

constexpr const char* kVersionNoteOwner = "ZDR";
constexpr unsigned kVersionNoteType = 1;
// The longest version text that is read; a longer one reads as empty.
constexpr size_t kVersionNoteMaxLength = 255;

std::string ReadVersionNote(const std::string& path);
