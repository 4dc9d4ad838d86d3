#include "netlib/http/nwCHttpRequest.h"

#include "netlib/http/nwCHttpGETHeaderBuilder.h"
#include "netlib/http/nwCHttpPOSTHeaderBuilder.h"

#include <strings.h>

void nwCHttpRequest::Upsert(std::vector<Entry>& entries, const char* name, const char* value)
{
    // Whole names only: a prefix match would let "Accept" overwrite
    // "Accept-Language".
    for (Entry& entry : entries) {
        if (strcasecmp(entry.name.GetString(), name) == 0) {
            entry.value = value;
            return;
        }
    }
    entries.push_back(Entry{vqCString(name), vqCString(value)});
}

bool nwCHttpRequest::SetHeader(const char* name, const char* value)
{
    if (IsBuilt() || !name || !value) return false;
    Upsert(m_headers, name, value);
    return true;
}

bool nwCHttpRequest::SetParameter(const char* name, const char* value)
{
    if (IsBuilt() || !name || !value) return false;
    Upsert(m_parameters, name, value);
    return true;
}

bool nwCHttpRequest::Build(Kind kind, vqCString& out)
{
    if (IsBuilt()) return false;
    if (kind == KIND_POST)
        m_builder = std::make_unique<nwCHttpPOSTHeaderBuilder>();
    else
        m_builder = std::make_unique<nwCHttpGETHeaderBuilder>();
    for (const Entry& header : m_headers) m_builder->SetHeader(header.name.GetString(), header.value.GetString());
    for (const Entry& parameter : m_parameters)
        m_builder->SetParameter(parameter.name.GetString(), parameter.value.GetString());
    m_builder->SetContentLength(m_contentLength);
    m_builder->BuildHeader(out);
    return true;
}

void nwCHttpRequest::BuildTrailer(vqCString& out)
{
    if (m_builder) m_builder->BuildTrailer(out);
}
