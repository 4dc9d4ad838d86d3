#pragma once
// The byte rules of the XML reader: how an element name is stored (escaped),
// how stored names and values are read out (decoded), and how a read-out
// string is handed to a caller's buffer.

#include <cstddef>
#include <string>
#include <string_view>

// '&' not followed by '#', '>', '<', '"' and '\'' become entities; every other
// byte is copied.
std::string XmlEscapeName(std::string_view raw);

// The five predefined entities become their bytes. "&#" + decimal digits and
// "&#x" (or "&#X") + hexadecimal digits are numeric references: they are
// consumed together with the one byte that follows the digits (normally ';')
// and give the UTF-8 bytes of the code point; a code point that is 0, a
// surrogate or beyond U+10FFFF gives U+FFFD. Any other '&' is copied as it
// is. The result is never longer than the input.
std::string XmlDecode(std::string_view stored);

// Copies text and a NUL into buffer and answers the text's length. A null
// buffer receives nothing and the answer is storedLength. A buffer of fewer
// than text.size() + 1 bytes receives nothing and the answer is 0.
int XmlCopyOut(const std::string& text, size_t storedLength, char* buffer, size_t capacity);
