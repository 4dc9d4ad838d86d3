#pragma once
// The request of the HTTP client layer: the headers and query parameters its
// user sets, held until the request is built once by a GET or POST builder.
//
// Contract: setting a header or parameter whose name is already stored
// (ASCII case ignored, whole name) replaces its value; otherwise it is
// appended. Build makes the builder of the given kind, hands it every header
// and parameter in the order they were first set and the content length, and
// appends the request text; it builds only once per holder, so a second call
// appends nothing and answers false. Nothing may be set after the build.

#include "netlib/core/vqCString.h"
#include "netlib/http/nwCHttpRequestHeaderBuilder.h"

#include <cstdint>
#include <memory>
#include <vector>

class nwCHttpRequest {
public:
    enum Kind { KIND_GET = 1, KIND_POST = 2 };

    // False (nothing stored) once the request is built.
    bool SetHeader(const char* name, const char* value);
    bool SetParameter(const char* name, const char* value);
    void SetContentLength(int64_t length) { m_contentLength = length; }

    bool Build(Kind kind, vqCString& out);
    bool IsBuilt() const { return m_builder != nullptr; }
    // What follows the body on the wire; nothing before the build.
    void BuildTrailer(vqCString& out);

private:
    struct Entry {
        vqCString name;
        vqCString value;
    };
    static void Upsert(std::vector<Entry>& entries, const char* name, const char* value);

    std::unique_ptr<nwCHttpRequestHeaderBuilder> m_builder;
    int64_t m_contentLength = 0;
    std::vector<Entry> m_headers;
    std::vector<Entry> m_parameters;
};
