#pragma once
// Where a redirect leads, read against the URL that answered it: absolute
// "http://" and "https://" URLs as they stand, "//host/path" with the
// answering URL's scheme, "/path" on its host, and anything else relative to
// the folder of its path; the "." and ".." segments of a relative target
// are resolved (RFC 3986), so the request names the path a server means.
// Empty (no usable target) for a blank Location, one holding control bytes,
// or one naming another scheme.

#include <string>

std::string RedirectTarget(const std::string& currentUrl, const std::string& location);
