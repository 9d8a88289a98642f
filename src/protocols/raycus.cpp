#include "protocols/raycus.h"

#include <algorithm>
#include <cstring>

namespace nclaser::raycus {

namespace {

constexpr std::uint8_t Head0 = 0xAA;
constexpr std::uint8_t Head1 = 0x55;
constexpr std::uint8_t CTN = 0x00;
constexpr std::uint8_t Channel = 0xFF;
constexpr std::size_t DataOffset = 8;

std::uint32_t PlainSum(std::span<const std::uint8_t> Bytes) {
  std::uint32_t Sum = 0;
  for (const std::uint8_t B : Bytes) {
    Sum += B;
  }
  return Sum;
}

unsigned Word(std::span<const std::uint8_t> F, std::size_t At) {
  return (static_cast<unsigned>(F[At]) << 8U) | F[At + 1];
}

void PushWord(std::vector<std::uint8_t>& F, unsigned W) {
  F.push_back(static_cast<std::uint8_t>((W >> 8U) & 0xFFU));
  F.push_back(static_cast<std::uint8_t>(W & 0xFFU));
}

std::vector<std::uint8_t> Frame(std::uint8_t Code, std::span<const std::uint8_t> Data, bool Wrap) {
  std::vector<std::uint8_t> F;
  F.reserve(Data.size() + FrameOverhead);
  F.push_back(Head0);
  F.push_back(Head1);
  PushWord(F, static_cast<unsigned>(Data.size() + 6));
  F.push_back(CTN);
  F.push_back(Channel);
  F.push_back(Code);
  F.push_back(0x00);
  F.insert(F.end(), Data.begin(), Data.end());
  const std::uint32_t Sum = PlainSum(std::span(F).subspan(4));
  PushWord(F, Wrap ? (Sum & 0xFFFFU) : std::min<std::uint32_t>(Sum, 0xFFFFU));
  F.push_back(Head1);
  F.push_back(Head0);
  return F;
}

// The layout both directions share: header, footer, length, then the check word by Rule.
template <class R> bool CheckLayout(std::span<const std::uint8_t> F, R&& Rule) {
  const std::size_t N = F.size();
  if (N < FrameOverhead) {
    return false;
  }
  if (F[0] != Head0 || F[1] != Head1 || F[N - 2] != Head1 || F[N - 1] != Head0) {
    return false;
  }
  if (Word(F, 2) != N - 6) {
    return false;
  }
  return Rule(Word(F, N - 4), PlainSum(F.subspan(4, N - 8)));
}

std::uint8_t LowByte(std::int32_t V) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(V) & 0xFFU);
}

} // namespace

std::uint16_t CheckWord(std::span<const std::uint8_t> Bytes) {
  return static_cast<std::uint16_t>(PlainSum(Bytes) & 0xFFFFU);
}

std::vector<std::uint8_t> BuildRequest(std::uint8_t Code, std::span<const std::uint8_t> Data) {
  return Frame(Code, Data, true);
}

std::vector<std::uint8_t> BuildAnswer(std::uint8_t Code, std::span<const std::uint8_t> Data) {
  return Frame(Code, Data, false);
}

bool CheckAnswer(std::span<const std::uint8_t> Frame) {
  return CheckLayout(Frame, [](unsigned Word, std::uint32_t Sum) { return Word == Sum; });
}

bool CheckRequest(std::span<const std::uint8_t> Frame) {
  return CheckLayout(Frame,
                     [](unsigned Word, std::uint32_t Sum) { return Word == (Sum & 0xFFFFU); });
}

std::optional<TAnswer> ParseAnswer(std::span<const std::uint8_t> Frame) {
  if (!CheckAnswer(Frame)) {
    return std::nullopt;
  }
  TAnswer A;
  A.Code = Frame[6];
  const unsigned Length = Word(Frame, 2);
  if (Length > 6) {
    A.Data = Frame.subspan(DataOffset, Length - 6);
  }
  return A;
}

void CopyLaserHead(std::span<const std::uint8_t, LaserDataSize> B, TLaserData& D) {
  std::memcpy(D.DeviceType, B.data(), 10);
  std::memcpy(D.ID, B.data() + 10, 10);
  std::memcpy(D.FirmVersion, B.data() + 20, 5);
  std::memcpy(&D.FreqUpper, B.data() + 25, 2);
  std::memcpy(&D.FreqLower, B.data() + 27, 2);
  D.RatioLower = B[29];
  D.RatioUpper = B[30];
  D.ModuleNum = B[31];
}

std::array<std::uint8_t, LaserDataSize> LaserHeadBytes(const TLaserData& D) {
  std::array<std::uint8_t, LaserDataSize> B{};
  std::memcpy(B.data(), D.DeviceType, 10);
  std::memcpy(B.data() + 10, D.ID, 10);
  std::memcpy(B.data() + 20, D.FirmVersion, 5);
  std::memcpy(B.data() + 25, &D.FreqUpper, 2);
  std::memcpy(B.data() + 27, &D.FreqLower, 2);
  B[29] = D.RatioLower;
  B[30] = D.RatioUpper;
  B[31] = D.ModuleNum;
  return B;
}

std::optional<TLaserData> DecodeStatus(std::span<const std::uint8_t> Data) {
  if (Data.size() < LaserDataSize) {
    return std::nullopt;
  }
  const std::size_t States = static_cast<std::size_t>(Data[31]) * ModuleStateSize;
  if (Data.size() < LaserDataSize + States) {
    return std::nullopt;
  }
  TLaserData D{};
  CopyLaserHead(Data.first<LaserDataSize>(), D);
  D.ModuleState.assign(Data.begin() + LaserDataSize, Data.begin() + LaserDataSize + States);
  return D;
}

int AlarmIndex(std::span<const std::uint8_t> ModuleState) {
  if (ModuleState.size() < ModuleStateSize) {
    return -1;
  }
  int Index = -1;
  for (std::size_t I = 0; I < ModuleState.size(); ++I) {
    if (ModuleState[I] != 0) {
      Index = static_cast<int>(I % ModuleStateSize);
    }
  }
  return Index;
}

std::array<std::uint8_t, 7> LaserDataBytes(std::uint8_t Mode, std::uint8_t Power,
                                           std::uint16_t Freq, std::uint8_t Ratio,
                                           std::uint16_t PulseW) {
  return {Mode,
          Power,
          static_cast<std::uint8_t>(Freq >> 8U),
          static_cast<std::uint8_t>(Freq & 0xFFU),
          Ratio,
          static_cast<std::uint8_t>(PulseW >> 8U),
          static_cast<std::uint8_t>(PulseW & 0xFFU)};
}

TPulse ClampPulse(TQCWModel Model, std::uint8_t Power, std::uint16_t Freq, std::uint8_t Ratio,
                  std::uint16_t PulseW) {
  TPulse P;
  P.Power = std::clamp<std::uint8_t>(Power, 1, 100);
  P.Freq = Freq;
  switch (Model) {
  case TQCWModel::QCW450:
    P.Ratio = std::clamp<std::uint8_t>(Ratio, 10, 30);
    P.Freq = std::clamp<std::uint16_t>(Freq, 500, 5000);
    break;
  case TQCWModel::QCW150:
    P.Ratio = std::clamp<std::uint8_t>(Ratio, 1, 50);
    P.Freq = std::min<std::uint16_t>(Freq, 5000);
    break;
  case TQCWModel::Unknown:
    P.Ratio = 20;
    P.Freq = 2000;
    break;
  }
  P.PulseW = std::clamp<std::uint16_t>(PulseW, 1, 6);
  // Power times duty ratio never exceeds 1000.
  if (static_cast<int>(P.Ratio) * P.Power > 1000) {
    P.Power = static_cast<std::uint8_t>(1000 / P.Ratio);
  }
  return P;
}

TFrameSpan FindFrame(std::span<const std::uint8_t> In) {
  TFrameSpan S;
  for (;;) {
    while (S.Skip < In.size() && In[S.Skip] != Head0) {
      ++S.Skip;
    }
    const std::size_t Left = In.size() - S.Skip;
    if (Left < 2) {
      return S;
    }
    if (In[S.Skip + 1] != Head1) {
      ++S.Skip;
      continue;
    }
    if (Left < 4) {
      return S;
    }
    const unsigned Length = Word(In, S.Skip + 2);
    if (Length < 6) {
      ++S.Skip;
      continue;
    }
    if (Left >= Length + 6U) {
      S.Length = Length + 6U;
    }
    return S;
  }
}

std::array<std::uint8_t, 9> PulseParamsCmd(std::int32_t Freq, std::int32_t Ratio,
                                           std::int32_t Power) {
  const auto F = static_cast<std::uint32_t>(Freq) & 0xFFFFU;
  return {Esc,
          'F',
          static_cast<std::uint8_t>(F >> 8U),
          static_cast<std::uint8_t>(F & 0xFFU),
          'D',
          LowByte(Ratio),
          'P',
          LowByte(Power),
          Cr};
}

std::array<std::uint8_t, 5> DiodeCmd(std::uint8_t Percent) {
  return {Esc, 'C', 'P', Percent, Cr};
}

std::optional<std::size_t> CwCommandLength(std::span<const std::uint8_t> In) {
  if (In.empty() || In[0] != Esc) {
    return 0;
  }
  if (In.size() < 2) {
    return std::nullopt;
  }
  switch (In[1]) {
  case 'O':
  case 'S':
    return EmissionOnCmd.size();
  case 'F':
    return 9;
  case 'C':
    return 5;
  default:
    return 0;
  }
}

std::string Latin1ToUtf8(std::span<const std::uint8_t> Bytes) {
  std::string Out;
  Out.reserve(Bytes.size());
  for (const std::uint8_t B : Bytes) {
    if (B < 0x80) {
      Out.push_back(static_cast<char>(B));
    } else {
      Out.push_back(static_cast<char>(0xC0U | (B >> 6U)));
      Out.push_back(static_cast<char>(0x80U | (B & 0x3FU)));
    }
  }
  return Out;
}

} // namespace nclaser::raycus
