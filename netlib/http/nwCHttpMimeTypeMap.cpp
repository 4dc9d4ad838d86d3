#include "netlib/http/nwCHttpMimeTypeMap.h"

namespace {
nwCHttpMimeTypeMap* g_instance = nullptr;
}

nwCHttpMimeTypeMap* nwCHttpMimeTypeMap::Instance()
{
    if (!g_instance) {
        g_instance = new nwCHttpMimeTypeMap();
        g_instance->Initialize();
    }
    return g_instance;
}

void nwCHttpMimeTypeMap::DestroyInstance()
{
    if (g_instance) g_instance->Clear();
    delete g_instance;
    g_instance = nullptr;
}

void nwCHttpMimeTypeMap::Clear()
{
    m_entries.clear();
}

void nwCHttpMimeTypeMap::Add(const char* key, const char* type)
{
    if (!key || !key[0] || !type) return;
    for (Entry& entry : m_entries) {
        if (entry.key == key) {
            entry.type = type;
            return;
        }
    }
    m_entries.push_back(Entry{key, type});
}

const char* nwCHttpMimeTypeMap::Lookup(const char* key) const
{
    if (!key || !key[0]) return kDefaultType;
    for (const Entry& entry : m_entries)
        if (entry.key == key) return entry.type.c_str();
    return kDefaultType;
}
