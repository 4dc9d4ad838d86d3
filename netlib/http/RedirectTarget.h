#pragma once
// Where a redirect leads: an absolute "http://" or "https://" Location as it
// stands, and a Location that starts with '/' resolved against the scheme
// and authority of the URL that answered. Anything else has no usable
// target (empty answer), so a server cannot send a fetch to another scheme
// or to a path outside a URL.

#include <string>

std::string RedirectTarget(const std::string& currentUrl, const std::string& location);
