#pragma once
// What a partly downloaded file ("NAME.part") is a part of, kept beside it as
// "NAME.part.state": the URL entry it came from, the file's total length and
// the server's validator (a strong ETag, or else Last-Modified). A later run
// resumes the part only when all three still hold and the server confirms the
// validator (If-Range); anything else starts the file over.
//
// The record is a few "key=value" lines; a record that cannot be read, or
// misses a field, is no record.

#include <cstdint>
#include <string>

class CPartFileRecord {
public:
    static constexpr const char* kPartSuffix = ".part";
    static constexpr const char* kRecordSuffix = ".part.state";

    std::string url;
    int64_t total = -1;
    std::string validator;

    // A record fit to resume from: every field present.
    bool IsUsable() const { return !url.empty() && total > 0 && !validator.empty(); }

    // Reads the record of the part at partPath; false when there is none or
    // it is not usable.
    bool Load(const std::string& partPath);
    // Writes it (replacing any earlier one); false when it could not be written.
    bool Save(const std::string& partPath) const;
    static void Remove(const std::string& partPath);
};
