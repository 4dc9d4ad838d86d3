#pragma once
// The text of a GET request: request line, the known headers in their fixed
// order with their defaults, then every other header, then the empty line.

#include "netlib/http/nwCHttpRequestHeaderBuilder.h"

class nwCHttpGETHeaderBuilder : public nwCHttpRequestHeaderBuilder {
public:
    void BuildHeader(vqCString& out) override;
    void BuildTrailer(vqCString& out) override;
};
