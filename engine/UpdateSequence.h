#pragma once
// The order of the engine update's descriptions. The maker's builder writes a
// number that grows with every release (by default the build's time in
// seconds) into the document element's "sequence" attribute, which the
// signature covers. The service keeps the highest number it accepted in a
// file beside the engine folder and rejects a description with a lower one:
// an older description stays validly signed for ever, and a server that
// replays it must not bring back an older engine.
//
// A description without the attribute (published before it existed) counts
// as 0, so it is accepted only until a numbered one was.
//
// Contract: plain functions, service thread; nothing throws or logs.

#include <cstdint>
#include <string>

class CXMLParserOstrel;

constexpr const char* kUpdateSequenceAttribute = "sequence";
// Kept in the engine's base folder (IGetPath::GetBaseFolder), outside the
// folder the update replaces.
constexpr const char* kUpdateSequenceFileName = "zdrDownloadV32.sequence";

// The description's sequence into *sequence (0 when it names none); false
// when the attribute is not a decimal number that fits 64 bits.
bool ReadDescriptionSequence(const CXMLParserOstrel& description, uint64_t* sequence);
// The highest sequence accepted so far; 0 when none was kept (or the file
// does not hold a number).
uint64_t LoadAcceptedSequence(const std::string& path);
// Keeps sequence, replacing the file in one rename; false when it could not
// be written.
bool StoreAcceptedSequence(const std::string& path, uint64_t sequence);
