#pragma once
// Reads an HTTP/1.1 body in the chunked transfer coding (RFC 9112, 7.1): the
// framing is taken off and the body's own bytes handed back where they lie
// in the input, so nothing is copied. Bytes may arrive split anywhere; the
// decoder keeps its place between calls. Chunk extensions and trailer
// fields are read and dropped. A size line, extension or trailer longer
// than its bound, a size that does not fit 60 bits, or any byte where the
// framing wants another is a bad body: the body is unusable from there on.
//
// Only the terminating chunk (size 0, then the end of the trailer) ends a
// body: a connection that closes before it brought a cut body, however many
// bytes arrived.

#include <cstddef>
#include <cstdint>

class nwCChunkedDecoder {
public:
    enum class Status {
        kMore, // the body goes on: feed the next bytes
        kDone, // the last chunk and the trailer are in; later bytes are not the body's
        kBad,  // the framing is broken
    };
    // One size line with its extensions, or one trailer line.
    static constexpr size_t kMaxLineBytes = 4096;
    // All the trailer lines together.
    static constexpr size_t kMaxTrailerBytes = 16384;

    // Reads from the start of data up to the next run of body bytes and takes
    // that run (as much of the current chunk as data holds). *used counts every
    // byte read, the run included; *body and *bodyLength give the run (length 0
    // when none was reached). Call again with the bytes after *used.
    Status Next(const unsigned char* data, size_t length, size_t* used, const unsigned char** body, size_t* bodyLength);
    Status GetStatus() const { return m_status; }
    // Body bytes handed back so far.
    uint64_t BodyBytes() const { return m_bodyBytes; }

private:
    enum class State {
        kSize,        // hexadecimal size digits
        kExtension,   // after the size: extensions, up to CR
        kSizeLF,      // the LF that ends the size line
        kData,        // the chunk's bytes
        kDataCR,      // CR LF after the chunk's bytes
        kDataLF,
        kTrailerStart,// a trailer line or the empty line that ends the body
        kTrailerLine,
        kTrailerLF,
        kEndLF,       // the LF of the final empty line
    };
    // Reads one framing byte; false when it breaks the framing.
    bool Frame(unsigned char byte);

    State m_state = State::kSize;
    Status m_status = Status::kMore;
    uint64_t m_chunkLeft = 0;
    size_t m_sizeDigits = 0;
    size_t m_lineBytes = 0;
    size_t m_trailerBytes = 0;
    uint64_t m_bodyBytes = 0;
};
