#include "params/textbuf.h"

#include <cstring>

namespace nclaser {

std::string Utf16ToUtf8(std::u16string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (std::size_t I = 0; I < Text.size(); ++I) {
    char32_t C = Text[I];
    if (C >= 0xD800 && C <= 0xDBFF && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
        Text[I + 1] <= 0xDFFF) {
      C = 0x10000 + ((C - 0xD800) << 10) + (Text[I + 1] - 0xDC00);
      ++I;
    } else if (C >= 0xD800 && C <= 0xDFFF) {
      C = 0xFFFD;
    }
    if (C < 0x80) {
      Out.push_back(static_cast<char>(C));
    } else if (C < 0x800) {
      Out.push_back(static_cast<char>(0xC0 | (C >> 6)));
      Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    } else if (C < 0x10000) {
      Out.push_back(static_cast<char>(0xE0 | (C >> 12)));
      Out.push_back(static_cast<char>(0x80 | ((C >> 6) & 0x3F)));
      Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    } else {
      Out.push_back(static_cast<char>(0xF0 | (C >> 18)));
      Out.push_back(static_cast<char>(0x80 | ((C >> 12) & 0x3F)));
      Out.push_back(static_cast<char>(0x80 | ((C >> 6) & 0x3F)));
      Out.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    }
  }
  return Out;
}

bool Utf8ToUtf16(std::string_view Text, std::u16string& Out) {
  Out.clear();
  std::size_t I = 0;
  while (I < Text.size()) {
    const auto B0 = static_cast<unsigned char>(Text[I]);
    char32_t C = 0;
    std::size_t Len = 0;
    if (B0 < 0x80) {
      C = B0;
      Len = 1;
    } else if ((B0 & 0xE0) == 0xC0) {
      C = B0 & 0x1F;
      Len = 2;
    } else if ((B0 & 0xF0) == 0xE0) {
      C = B0 & 0x0F;
      Len = 3;
    } else if ((B0 & 0xF8) == 0xF0) {
      C = B0 & 0x07;
      Len = 4;
    } else {
      return false;
    }
    if (I + Len > Text.size()) {
      return false;
    }
    for (std::size_t K = 1; K < Len; ++K) {
      const auto B = static_cast<unsigned char>(Text[I + K]);
      if ((B & 0xC0) != 0x80) {
        return false;
      }
      C = (C << 6) | (B & 0x3F);
    }
    static constexpr char32_t MinOf[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (C < MinOf[Len] || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) {
      return false;
    }
    if (C >= 0x10000) {
      C -= 0x10000;
      Out.push_back(static_cast<char16_t>(0xD800 + (C >> 10)));
      Out.push_back(static_cast<char16_t>(0xDC00 + (C & 0x3FF)));
    } else {
      Out.push_back(static_cast<char16_t>(C));
    }
    I += Len;
  }
  return true;
}

std::string TextBufToUtf8(const char16_t* Buf, std::size_t Size) {
  std::size_t N = 0;
  while (N < Size && Buf[N] != 0) {
    ++N;
  }
  return Utf16ToUtf8(std::u16string_view(Buf, N));
}

bool Utf8ToTextBuf(std::string_view Text, char16_t* Buf, std::size_t Size) {
  if (Size == 0) {
    return false;
  }
  std::u16string U;
  if (!Utf8ToUtf16(Text, U) || U.size() + 1 > Size) {
    Buf[0] = 0;
    return false;
  }
  std::memcpy(Buf, U.data(), U.size() * sizeof(char16_t));
  Buf[U.size()] = 0;
  return true;
}

std::string To8Bit(const std::string& Utf8) {
  std::u16string U;
  if (!Utf8ToUtf16(Utf8, U)) {
    return Utf8;
  }
  std::string Out;
  Out.reserve(U.size());
  for (char16_t C : U) {
    Out.push_back(C <= 0xFF ? static_cast<char>(C) : '?');
  }
  return Out;
}

} // namespace nclaser
