#pragma once
// The text of a POST whose body is one multipart/form-data part carrying a
// file: request line, known headers (with the multipart "Content-Type" and
// the length of the whole body on the wire), every other header, the empty
// line and the part header. The caller then sends the content-length bytes
// of the file and finally the trailer, the closing delimiter.

#include "netlib/http/nwCHttpRequestHeaderBuilder.h"

class nwCHttpPOSTHeaderBuilder : public nwCHttpRequestHeaderBuilder {
public:
    // Draws this builder's own boundary.
    nwCHttpPOSTHeaderBuilder();

    void BuildHeader(vqCString& out) override;
    // CR LF, "--", the boundary, "--", CR LF.
    void BuildTrailer(vqCString& out) override;

    // 27 hyphens and 16 upper-case hex digits.
    const vqCString& GetBoundary() const { return m_boundary; }

private:
    vqCString m_boundary;
};
