#include "netlib/http/nwCChunkedDecoder.h"

namespace {
// 15 hexadecimal digits: 60 bits, far past any file and no overflow.
constexpr size_t kMaxSizeDigits = 15;

int HexValue(unsigned char byte)
{
    if (byte >= '0' && byte <= '9') return byte - '0';
    if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
    if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
    return -1;
}

// Bytes a field line may hold: visible text, blanks and obs-text.
bool LineByte(unsigned char byte)
{
    return byte == '\t' || (byte >= 0x20 && byte != 0x7f);
}
} // namespace

nwCChunkedDecoder::Status nwCChunkedDecoder::Next(const unsigned char* data, size_t length, size_t* used,
                                                  const unsigned char** body, size_t* bodyLength)
{
    *used = 0;
    *body = nullptr;
    *bodyLength = 0;
    while (m_status == Status::kMore && *used < length) {
        if (m_state == State::kData) {
            const size_t available = length - *used;
            const size_t run = m_chunkLeft < available ? static_cast<size_t>(m_chunkLeft) : available;
            *body = data + *used;
            *bodyLength = run;
            *used += run;
            m_chunkLeft -= run;
            m_bodyBytes += run;
            if (m_chunkLeft == 0) m_state = State::kDataCR;
            return m_status;
        }
        if (!Frame(data[(*used)++])) m_status = Status::kBad;
    }
    return m_status;
}

bool nwCChunkedDecoder::Frame(unsigned char byte)
{
    switch (m_state) {
    case State::kSize: {
        const int digit = HexValue(byte);
        if (digit >= 0) {
            if (++m_sizeDigits > kMaxSizeDigits) return false;
            m_chunkLeft = m_chunkLeft * 16 + static_cast<uint64_t>(digit);
            m_lineBytes = m_sizeDigits;
            return true;
        }
        if (m_sizeDigits == 0) return false;
        if (byte == '\r') {
            m_state = State::kSizeLF;
            return true;
        }
        if (byte != ';' && byte != ' ' && byte != '\t') return false;
        m_state = State::kExtension;
        ++m_lineBytes;
        return true;
    }
    case State::kExtension:
        if (byte == '\r') {
            m_state = State::kSizeLF;
            return true;
        }
        return LineByte(byte) && ++m_lineBytes <= kMaxLineBytes;
    case State::kSizeLF:
        if (byte != '\n') return false;
        m_sizeDigits = 0;
        m_lineBytes = 0;
        m_state = m_chunkLeft == 0 ? State::kTrailerStart : State::kData;
        return true;
    case State::kData:
        return false;
    case State::kDataCR:
        if (byte != '\r') return false;
        m_state = State::kDataLF;
        return true;
    case State::kDataLF:
        if (byte != '\n') return false;
        m_state = State::kSize;
        return true;
    case State::kTrailerStart:
        if (byte == '\r') {
            m_state = State::kEndLF;
            return true;
        }
        m_state = State::kTrailerLine;
        m_lineBytes = 0;
        [[fallthrough]];
    case State::kTrailerLine:
        if (byte == '\r') {
            m_state = State::kTrailerLF;
            return true;
        }
        return LineByte(byte) && ++m_lineBytes <= kMaxLineBytes && ++m_trailerBytes <= kMaxTrailerBytes;
    case State::kTrailerLF:
        if (byte != '\n') return false;
        m_state = State::kTrailerStart;
        return true;
    case State::kEndLF:
        if (byte != '\n') return false;
        m_status = Status::kDone;
        return true;
    }
    return false;
}
