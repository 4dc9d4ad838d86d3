#include "netlib/http/nwCHttpRequestHeaderBuilder.h"

#include "netlib/http/CodePageConversion.h"
#include "netlib/http/utCUriCodec.h"

#include <strings.h>

#include <cstring>

#ifndef ZDR_DEFAULT_REFERER
#error "ZDR_DEFAULT_REFERER must be set by the build"
#endif

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A field value goes out as it stands, except that control bytes (other than
// HTAB) are escaped: a CR or LF taken from a URL or a caller would otherwise
// end the line and smuggle in headers of its own.
void AppendFieldValue(std::string& out, const char* value)
{
    for (const char* p = value; *p; ++p) {
        auto byte = static_cast<unsigned char>(*p);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            out += '%';
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        } else {
            out += static_cast<char>(byte);
        }
    }
}

void AppendHeaderLine(std::string& out, const char* name, const char* value)
{
    out += name;
    out += ": ";
    AppendFieldValue(out, value);
    out += "\r\n";
}

// An HTTP token (RFC 9110 tchar): anything else in a name would break the line.
bool IsToken(const char* name)
{
    if (!name[0]) return false;
    for (const char* p = name; *p; ++p) {
        auto byte = static_cast<unsigned char>(*p);
        bool alnum = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9');
        if (!alnum && !strchr("!#$%&'*+-.^_`|~", byte)) return false;
    }
    return true;
}

bool IsHexDigit(char ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

void AppendEncoded(std::string& out, const char* text)
{
    vqCString encoded(text);
    utCUriCodec().EncodeInPlace(encoded);
    out.append(encoded.GetString(), encoded.GetLength());
}

} // namespace

const char* nwCHttpRequestHeaderBuilder::DefaultReferer()
{
    return ZDR_DEFAULT_REFERER;
}

nwCHttpRequestHeaderBuilder::Header* nwCHttpRequestHeaderBuilder::FindHeader(const char* name)
{
    for (Header& header : m_headers)
        if (strcasecmp(header.name.GetString(), name) == 0) return &header;
    return nullptr;
}

void nwCHttpRequestHeaderBuilder::SetHeader(const char* name, const char* value)
{
    if (!name) return;
    if (!value) value = "";
    vqCString stored(value);
    const char* query = strchr(value, '?');
    if (query && (strncmp(name, "GET", 3) == 0 || strncmp(name, "POST", 4) == 0)) {
        stored.Assign(value, static_cast<uint32_t>(query - value));
        ParseQuery(value);
    }
    if (Header* header = FindHeader(name)) {
        header->value = stored;
        return;
    }
    m_headers.push_back(Header{vqCString(name), stored, false});
}

void nwCHttpRequestHeaderBuilder::SetParameter(const char* name, const char* value)
{
    if (!name) return;
    StoreParameter(name, value ? value : "", true);
}

void nwCHttpRequestHeaderBuilder::StoreParameter(const char* name, const char* value, bool hasValue)
{
    for (Parameter& parameter : m_parameters) {
        if (strcasecmp(parameter.name.GetString(), name) == 0) {
            parameter.value = value;
            parameter.hasValue = hasValue;
            return;
        }
    }
    m_parameters.push_back(Parameter{vqCString(name), vqCString(value), hasValue});
}

void nwCHttpRequestHeaderBuilder::ParseQuery(const char* target)
{
    const char* query = strchr(target, '?');
    if (!query) return;
    const char* piece = query + 1;
    for (;;) {
        const char* end = strchr(piece, '&');
        std::string text = end ? std::string(piece, end) : std::string(piece);
        if (!text.empty()) {
            size_t equals = text.find('=');
            if (equals == std::string::npos)
                StoreParameter(text.c_str(), "", false);
            else
                StoreParameter(text.substr(0, equals).c_str(), text.substr(equals + 1).c_str(), true);
        }
        if (!end) break;
        piece = end + 1;
    }
}

void nwCHttpRequestHeaderBuilder::ResetEmitted()
{
    for (Header& header : m_headers) header.emitted = false;
}

void nwCHttpRequestHeaderBuilder::WriteKnownHeader(std::string& out, const char* name, const char* defaultValue)
{
    if (Header* header = FindHeader(name)) {
        header->emitted = true;
        AppendHeaderLine(out, name, header->value.GetString());
    } else if (defaultValue && defaultValue[0]) {
        AppendHeaderLine(out, name, defaultValue);
    }
}

void nwCHttpRequestHeaderBuilder::WriteRemainingHeaders(std::string& out)
{
    for (Header& header : m_headers) {
        if (header.emitted) continue;
        header.emitted = true;
        if (!IsToken(header.name.GetString())) continue;
        // Cookie values, validators (If-Range's quoted ETag or date) and
        // credentials have their own syntax, which escaping would change: a
        // server would no longer recognise them.
        vqCString value = header.value;
        const bool verbatim = strcasecmp(header.name.GetString(), "Cookie") == 0 ||
                              strcasecmp(header.name.GetString(), "If-Range") == 0 ||
                              strcasecmp(header.name.GetString(), "Authorization") == 0;
        if (!verbatim) utCUriCodec().EncodeInPlace(value);
        AppendHeaderLine(out, header.name.GetString(), value.GetString());
    }
}

void nwCHttpRequestHeaderBuilder::WriteRequestTarget(std::string& out)
{
    Header* pseudo = FindHeader("GET");
    if (!pseudo) pseudo = FindHeader("POST");
    vqCString target("/");
    if (pseudo) {
        pseudo->emitted = true;
        // Without a converter for the codeset the bytes go out as they are
        // rather than not at all.
        if (VQ_FAILED(AnsiToUtf8(pseudo->value.GetString(), target))) target = pseudo->value;
    }

    // The path goes out as given: empty segments stay ("/a//b" and "/a/b"
    // may be different files) and an escape that is already there ("%20",
    // "%2F") is kept rather than escaped again, which would name another file.
    const char* text = target.GetString();
    if (text[0] != '/') out += '/';
    for (const char* p = text; *p; ++p) {
        if (*p == '/') {
            out += '/';
        } else if (p[0] == '%' && IsHexDigit(p[1]) && IsHexDigit(p[2])) {
            out.append(p, 3);
            p += 2;
        } else {
            const char* end = p;
            while (*end && *end != '/' && *end != '%') ++end;
            if (end == p) ++end; // a '%' that starts no escape is escaped itself
            AppendEncoded(out, std::string(p, end).c_str());
            p = end - 1;
        }
    }

    for (size_t i = 0; i < m_parameters.size(); ++i) {
        out += i == 0 ? '?' : '&';
        AppendEncoded(out, m_parameters[i].name.GetString());
        if (!m_parameters[i].hasValue) continue;
        out += '=';
        AppendEncoded(out, m_parameters[i].value.GetString());
    }
}
