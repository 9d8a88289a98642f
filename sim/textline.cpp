#include "sim/textline.h"

namespace nclaser::sim {

TSplit SplitLine(std::span<const std::uint8_t> In, std::string_view Terminator,
                 std::string_view Skippable) {
  TSplit S;
  while (S.Skip < In.size() &&
         Skippable.find(static_cast<char>(In[S.Skip])) != std::string_view::npos) {
    ++S.Skip;
  }
  const std::string_view Text(reinterpret_cast<const char*>(In.data()) + S.Skip,
                              In.size() - S.Skip);
  const std::size_t End = Text.find(Terminator);
  if (End != std::string_view::npos) {
    S.Length = End + Terminator.size();
  }
  return S;
}

std::string LineText(std::span<const std::uint8_t> Request) {
  std::string T(Request.begin(), Request.end());
  while (!T.empty() && (T.back() == '\r' || T.back() == '\n')) {
    T.pop_back();
  }
  return T;
}

std::string VisibleLine(std::span<const std::uint8_t> Request) {
  std::string Out;
  for (const std::uint8_t C : Request) {
    if (C == '\r') {
      Out += "\\r";
    } else if (C == '\n') {
      Out += "\\n";
    } else if (C >= 0x20 && C < 0x7F) {
      Out += static_cast<char>(C);
    } else {
      static const char* Hex = "0123456789ABCDEF";
      Out += "\\x";
      Out += Hex[C >> 4];
      Out += Hex[C & 15];
    }
  }
  return Out;
}

TBytes GarbledLine(std::string_view Answer, std::uint32_t& Seed) {
  std::size_t Body = Answer.size();
  std::string_view End;
  if (Answer.ends_with("\r\n")) {
    End = "\r\n";
  } else if (Answer.ends_with("\r")) {
    End = "\r";
  }
  Body -= End.size();
  TBytes Out;
  for (std::size_t I = 0; I < (Body > 0 ? Body : 4); ++I) {
    Seed = Seed * 1664525U + 1013904223U;
    Out.push_back(static_cast<std::uint8_t>(0x21 + (Seed >> 24) % 94)); // printable, no blank
  }
  Out.insert(Out.end(), End.begin(), End.end());
  return Out;
}

} // namespace nclaser::sim
