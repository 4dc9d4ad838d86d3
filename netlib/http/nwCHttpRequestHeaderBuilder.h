#pragma once
// Turns the headers and query parameters of one HTTP request into the exact
// request text.
//
// Contract: the request holder of the HTTP client layer owns the builder. It
// hands over every header (the request target travels as the pseudo-header
// "GET" or "POST", its query split off into parameters), every parameter and
// the body length, then asks for the header text once and, after the body,
// for the trailer. The builder copies every text it is given and performs no
// I/O; it appends ASCII text to the caller's string and has no failure paths.
// Building again gives the same text.

#include "netlib/core/vqCString.h"

#include <cstdint>
#include <string>
#include <vector>

class nwCHttpRequestHeaderBuilder {
public:
    nwCHttpRequestHeaderBuilder() = default;
    nwCHttpRequestHeaderBuilder(const nwCHttpRequestHeaderBuilder&) = delete;
    nwCHttpRequestHeaderBuilder& operator=(const nwCHttpRequestHeaderBuilder&) = delete;
    virtual ~nwCHttpRequestHeaderBuilder() = default;

    // Appends the request line and the header block, ended by the empty line.
    virtual void BuildHeader(vqCString& out) = 0;
    // Appends what follows the body on the wire (nothing for a GET).
    virtual void BuildTrailer(vqCString& out) = 0;

    // Stores a header, replacing the value of one with the same name (ASCII
    // case ignored). A name beginning with "GET" or "POST" carries the request
    // target: a query after its first "?" is moved into the parameters.
    void SetHeader(const char* name, const char* value);
    // Stores a query parameter, replacing one with the same name (ASCII case
    // ignored). Names and values are stored as given and encoded when built.
    void SetParameter(const char* name, const char* value);
    void SetContentLength(int64_t length) { m_contentLength = length; }

    // The "Referer" sent when the caller sets none (a build setting).
    static const char* DefaultReferer();

protected:
    // A header line with a fixed name, in its fixed place: the caller's value
    // when set (even empty), else the default when there is one.
    void WriteKnownHeader(std::string& out, const char* name, const char* defaultValue);
    // Every header not written yet, in the order they were set.
    void WriteRemainingHeaders(std::string& out);
    // "/" and the UTF-8, percent-encoded path segments, then the query.
    void WriteRequestTarget(std::string& out);
    void ResetEmitted();
    int64_t ContentLength() const { return m_contentLength; }

private:
    struct Header {
        vqCString name;
        vqCString value;
        bool emitted;
    };
    struct Parameter {
        vqCString name;
        vqCString value;
        bool hasValue; // false for a query piece without "=", sent as its name alone
    };
    Header* FindHeader(const char* name);
    void StoreParameter(const char* name, const char* value, bool hasValue);
    void ParseQuery(const char* target);

    std::vector<Header> m_headers;
    std::vector<Parameter> m_parameters;
    int64_t m_contentLength = 0;
};
