#pragma once
// The user name and password a URL may carry ("http://user:pw@host/"): the
// HTTP layer sends them as Basic authorization, and nothing that shows or
// keeps a URL (the activity log, a front end's message) may show them.

#include <string>

// Splits "user:pw@" off the authority of url: *credentials gets the user
// information as written (percent escapes kept) and the URL without it is
// returned. A URL without one is returned as it is, *credentials empty.
std::string SplitUrlCredentials(const std::string& url, std::string* credentials);

// The value of an "Authorization" field for credentials as SplitUrlCredentials
// gives them: "Basic " and the base64 of user ':' password, percent escapes
// decoded.
std::string BasicAuthorization(const std::string& credentials);

// The text with the user information of every URL in it left out
// ("http://user:pw@host/a" reads "http://host/a").
std::string HideUrlCredentials(const std::string& text);
