// Fixed text buffers of UTF-16 code units holding a zero-terminated text, and their
// conversion to and from UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nclaser {

using TTextBuf256 = char16_t[256];

// The text up to the first NUL (or the whole buffer), as UTF-8. Unpaired surrogates become
// U+FFFD.
std::string TextBufToUtf8(const char16_t* Buf, std::size_t Size);
template <std::size_t N> std::string TextBufToUtf8(const char16_t (&Buf)[N]) {
  return TextBufToUtf8(Buf, N);
}

// Writes Text and a terminating NUL; false (buffer left empty) when the text does not fit
// (it needs at most Size - 1 code units) or is not valid UTF-8.
bool Utf8ToTextBuf(std::string_view Text, char16_t* Buf, std::size_t Size);
template <std::size_t N> bool Utf8ToTextBuf(std::string_view Text, char16_t (&Buf)[N]) {
  return Utf8ToTextBuf(Text, Buf, N);
}

// UTF-8 <-> UTF-16 for whole strings; false on invalid input.
bool Utf8ToUtf16(std::string_view Text, std::u16string& Out);
std::string Utf16ToUtf8(std::u16string_view Text);

// The text as 8-bit characters, as the host's components take it: code units above 0xFF
// become '?'.
std::string To8Bit(const std::string& Utf8);

} // namespace nclaser
