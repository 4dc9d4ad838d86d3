#pragma once
// The window works in UTF-8; the service and file names use the system code
// page (the locale's codeset). These convert between the two at each call.
// A text the other side cannot hold comes back empty.

#include <string>

std::string ToSystemText(const std::string& utf8);
std::string FromSystemText(const std::string& text);
