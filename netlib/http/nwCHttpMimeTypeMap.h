#pragma once
// Content types of multipart parts by key, with "application/octet-stream"
// for any key it does not hold. A process-wide singleton made by the network
// start-up or on first use and destroyed at network shut-down; used on the
// service thread or under the network lock.

#include <string>
#include <vector>

class nwCHttpMimeTypeMap {
public:
    static nwCHttpMimeTypeMap* Instance();
    static void DestroyInstance();

    virtual void Initialize() {}
    virtual void Clear();
    virtual ~nwCHttpMimeTypeMap() = default;

    // Adds a key or replaces its type.
    void Add(const char* key, const char* type);
    // The type of the key (exact, case-sensitive match); the default type for
    // a null, empty or unknown key. Valid until the map changes.
    const char* Lookup(const char* key) const;

    static constexpr const char* kDefaultType = "application/octet-stream";

private:
    nwCHttpMimeTypeMap() = default;

    struct Entry {
        std::string key;
        std::string type;
    };
    std::vector<Entry> m_entries;
};
