#include "protocols/yls.h"

#include <cmath>
#include <type_traits>

namespace nclaser::yls {

namespace {

// Reads and writes one field at its offset, little-endian, byte by byte. A field that
// lies beyond the block is left alone, which is how the short status forms keep the
// fields they do not carry.
struct TReader {
  std::span<const std::uint8_t> Data;
  template <class T> void operator()(std::size_t Offset, T& Field) const {
    if constexpr (std::is_integral_v<T>) {
      if (Offset + sizeof(T) > Data.size()) {
        return;
      }
      std::make_unsigned_t<T> V = 0;
      for (std::size_t I = 0; I < sizeof(T); ++I) {
        V |= static_cast<std::make_unsigned_t<T>>(
            static_cast<std::make_unsigned_t<T>>(Data[Offset + I]) << (8 * I));
      }
      Field = static_cast<T>(V);
    } else {
      if (Offset + Field.size() > Data.size()) {
        return;
      }
      for (std::size_t I = 0; I < Field.size(); ++I) {
        Field[I] = Data[Offset + I];
      }
    }
  }
};

struct TWriter {
  TBytes& Out;
  template <class T> void operator()(std::size_t Offset, const T& Field) const {
    if constexpr (std::is_integral_v<T>) {
      if (Offset + sizeof(T) > Out.size()) {
        return;
      }
      const auto V = static_cast<std::make_unsigned_t<T>>(Field);
      for (std::size_t I = 0; I < sizeof(T); ++I) {
        Out[Offset + I] = static_cast<std::uint8_t>((V >> (8 * I)) & 0xFF);
      }
    } else {
      if (Offset + Field.size() > Out.size()) {
        return;
      }
      for (std::size_t I = 0; I < Field.size(); ++I) {
        Out[Offset + I] = Field[I];
      }
    }
  }
};

// The records' layouts: every field with its offset, in wire order.
template <class R, class F> void LaserIDFields(R& Id, const F& Fn) {
  Fn(0, Id.Version);
  Fn(2, Id.LasterProductLine);
  Fn(4, Id.LasterID);
  Fn(68, Id.LasterSN);
}

template <class R, class F> void LaserDataFields(R& D, const F& Fn) {
  Fn(0, D.version);
  Fn(2, D.SetILD);
  Fn(4, D.SetPower);
  Fn(8, D.OutputPower);
  Fn(12, D.TemperatureMean);
  Fn(14, D.TemperatureMin);
  Fn(16, D.TemperatureMax);
  Fn(18, D.ModuleWithMinTemp);
  Fn(19, D.ModuleWithMaxTemp);
  Fn(20, D.WaterFlow);
  Fn(22, D.Status1);
  Fn(26, D.Status2);
  Fn(30, D.Alarms1);
  Fn(34, D.Alarms2);
  Fn(38, D.Warnings1);
  Fn(42, D.Warrings2);
  Fn(46, D.ModulesUnconnected);
  Fn(62, D.ModulesDisable);
  Fn(78, D.ModulesReserved);
  Fn(94, D.MoudulesFatalDiable);
  Fn(110, D.ModulesErrors);
  Fn(126, D.ModulesFibersInterlocks);
  Fn(142, D.HardwiringInputs);
  Fn(146, D.HardwiringOutputs);
  Fn(150, D.RiseTime);
  Fn(152, D.FallTime);
  Fn(154, D.ProgramNumber);
  Fn(156, D.ProgramEndCode);
  Fn(158, D.ProgramErrorLine);
  Fn(160, D.UControl);
  Fn(162, D.ePcStatus);
  Fn(166, D.FFWaterFlow);
  Fn(168, D.SideSpotLaserPower1);
  Fn(170, D.SideSpotLaserPower2);
  Fn(172, D.SetSideSpotLaserPower1);
  Fn(174, D.SetSideSpotLaserPower2);
  Fn(176, D.OutputPeakPower);
  Fn(180, D.CustomerOutputPower);
}

template <class R, class F> void TimeDataFields(R& T, const F& Fn) {
  Fn(0, T.Date);
  Fn(16, T.WorkTime);
  Fn(24, T.EmissionTime);
  Fn(32, T.WorkTimeToday);
  Fn(36, T.EmissionTimeTaday);
}

template <class R, class F> void DewPointFields(R& D, const F& Fn) {
  Fn(0, D.Version);
  Fn(2, D.CabinetTemperature);
  Fn(4, D.Humidity);
  Fn(6, D.DewPoint);
}

std::uint16_t Get16(std::span<const std::uint8_t> B, std::size_t At) {
  return static_cast<std::uint16_t>(B[At] | (B[At + 1] << 8));
}

std::uint32_t Get32(std::span<const std::uint8_t> B, std::size_t At) {
  return static_cast<std::uint32_t>(B[At]) | (static_cast<std::uint32_t>(B[At + 1]) << 8) |
         (static_cast<std::uint32_t>(B[At + 2]) << 16) |
         (static_cast<std::uint32_t>(B[At + 3]) << 24);
}

void Put16(TBytes& B, std::uint16_t V) {
  B.push_back(static_cast<std::uint8_t>(V & 0xFF));
  B.push_back(static_cast<std::uint8_t>(V >> 8));
}

void Put32(TBytes& B, std::uint32_t V) {
  for (int I = 0; I < 4; ++I) {
    B.push_back(static_cast<std::uint8_t>((V >> (8 * I)) & 0xFF));
  }
}

TBytes Frame(const TCrc16& Crc, std::uint16_t Code, std::uint16_t Second,
             std::span<const std::uint8_t> Data) {
  TBytes F;
  F.reserve(Data.size() + FrameOverhead);
  Put16(F, Code);
  Put16(F, Second);
  Put32(F, static_cast<std::uint32_t>(Data.size()));
  F.insert(F.end(), Data.begin(), Data.end());
  Put16(F, Crc.Calc(F));
  return F;
}

} // namespace

// ---- CRC ---------------------------------------------------------------------------

TCrc16::TCrc16() {
  for (std::uint32_t I = 0; I < 256; ++I) {
    std::uint16_t C = static_cast<std::uint16_t>(I);
    for (int B = 0; B < 8; ++B) {
      C = (C & 1) != 0 ? static_cast<std::uint16_t>((C >> 1) ^ 0xA001) : C >> 1;
    }
    FTable[I] = C;
  }
}

std::uint16_t TCrc16::Calc(std::span<const std::uint8_t> Bytes) const {
  std::uint16_t C = 0;
  for (const std::uint8_t X : Bytes) {
    C = static_cast<std::uint16_t>((C >> 8) ^ FTable[(C ^ X) & 0xFF]);
  }
  return C;
}

std::uint16_t Crc16(std::span<const std::uint8_t> Bytes) {
  const TCrc16 Crc;
  return Crc.Calc(Bytes);
}

// ---- Requests ----------------------------------------------------------------------

bool IsAnswerCode(std::uint16_t Code) {
  switch (Code) {
  case cmdGetLaserID:
  case cmdGetLaserStatus:
  case cmdGetTimeData:
  case cmdGetDewPointData:
  case cmdSetAccessLev:
  case cmdPowerSupply:
  case cmdSetPumpCurrent:
  case cmdSetOutPower:
  case cmdEmission:
  case cmdGuideLaser:
  case cmdSetOptChannel:
  case cmdResetNoCritError:
  case cmdAnalogCtrl:
  case cmdModulationCtrl:
    return true;
  default:
    return false;
  }
}

TBytes BuildRequest(const TCrc16& Crc, std::uint16_t Code, std::span<const std::uint8_t> Data) {
  return Frame(Crc, Code, 0, Data);
}

TBytes Word16(std::uint16_t Value) {
  TBytes B;
  Put16(B, Value);
  return B;
}

TBytes Word32(std::uint32_t Value) {
  TBytes B;
  Put32(B, Value);
  return B;
}

TBytes StructureA(std::uint16_t First, std::uint16_t Second) {
  TBytes B;
  Put16(B, First);
  Put16(B, Second);
  return B;
}

TBytes AccessLevelData() {
  TBytes B;
  Put16(B, 1);
  Put16(B, 100);
  B.resize(14, 0);
  return B;
}

std::optional<std::uint16_t> PumpCurrentValue(double Percent) {
  if (!(Percent >= 0.0 && Percent <= 100.0)) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(std::nearbyint(Percent * 100.0));
}

// ---- Answers -----------------------------------------------------------------------

TCheck CheckAnswer(const TCrc16& Crc, std::span<const std::uint8_t> Frame, TAnswerHeader& Header) {
  if (Frame.empty()) {
    return TCheck::Empty;
  }
  if (Frame.size() < FrameOverhead) {
    return TCheck::SizeError;
  }
  const std::size_t Body = Frame.size() - 2;
  if (Crc.Calc(Frame.first(Body)) != Get16(Frame, Body) || Frame[0] == 0) {
    return TCheck::CrcError;
  }
  TAnswerHeader H;
  H.Answer = Get16(Frame, 0);
  H.Executioncode = Get16(Frame, 2);
  H.Datasize = Get32(Frame, 4);
  if (H.Datasize > Body - HeaderSize) {
    return TCheck::SizeError;
  }
  Header = H;
  return TCheck::Ok;
}

TBytes BuildAnswer(const TCrc16& Crc, std::uint16_t Code, std::uint16_t Executioncode,
                   std::span<const std::uint8_t> Data) {
  return Frame(Crc, Code, Executioncode, Data);
}

// ---- Records -----------------------------------------------------------------------

bool DecodeLaserID(std::span<const std::uint8_t> Data, TLaserID& Into) {
  if (Data.size() != LaserIDSize) {
    return false;
  }
  LaserIDFields(Into, TReader{Data});
  return true;
}

bool DecodeLaserData(std::span<const std::uint8_t> Data, TLaserData& Into) {
  if (Data.size() != LaserDataSize && Data.size() != LaserDataSizeMid &&
      Data.size() != LaserDataSizeShort) {
    return false;
  }
  LaserDataFields(Into, TReader{Data});
  return true;
}

bool DecodeTimeData(std::span<const std::uint8_t> Data, TTimeData& Into) {
  if (Data.size() != TimeDataSize) {
    return false;
  }
  TimeDataFields(Into, TReader{Data});
  return true;
}

bool DecodeDewPointData(std::span<const std::uint8_t> Data, TDewPointData& Into) {
  if (Data.size() != DewPointDataSize) {
    return false;
  }
  DewPointFields(Into, TReader{Data});
  return true;
}

TBytes EncodeLaserData(const TLaserData& Data, std::size_t Size) {
  TBytes Out(Size, 0);
  LaserDataFields(Data, TWriter{Out});
  return Out;
}

TBytes EncodeLaserID(const TLaserID& Id) {
  TBytes Out(LaserIDSize, 0);
  LaserIDFields(Id, TWriter{Out});
  return Out;
}

TBytes EncodeTimeData(const TTimeData& Data) {
  TBytes Out(TimeDataSize, 0);
  TimeDataFields(Data, TWriter{Out});
  return Out;
}

TBytes EncodeDewPointData(const TDewPointData& Data) {
  TBytes Out(DewPointDataSize, 0);
  DewPointFields(Data, TWriter{Out});
  return Out;
}

std::string SerialNumberText(const TLaserID& Id) {
  std::string S;
  for (const std::uint8_t C : Id.LasterSN) {
    if (C == 0) {
      break;
    }
    S.push_back(static_cast<char>(C));
  }
  return S;
}

// ---- Stream reassembly -------------------------------------------------------------

TLocated LocateFrame(const TCrc16& Crc, std::span<const std::uint8_t> In, bool AtBoundary) {
  TLocated R;
  std::size_t Pos = 0;
  while (In.size() - Pos >= HeaderSize) {
    const std::span<const std::uint8_t> At = In.subspan(Pos);
    const std::uint32_t Size = Get32(At, 4);
    if (!IsAnswerCode(Get16(At, 0)) || Size > MaxDataSize) {
      ++Pos;
      continue;
    }
    const std::size_t Length = Size + FrameOverhead;
    if (At.size() < Length) {
      break; // the rest of this frame is still on its way
    }
    const bool CrcOk = Crc.Calc(At.first(Length - 2)) == Get16(At, Length - 2);
    if (!CrcOk && (Pos > 0 || !AtBoundary)) {
      ++Pos;
      ++R.CrcRejects;
      continue;
    }
    R.CrcOk = CrcOk;
    R.Length = Length;
    break;
  }
  R.Skip = Pos;
  return R;
}

std::vector<TBytes> TFrameAssembler::Feed(std::span<const std::uint8_t> Bytes) {
  FBuf.insert(FBuf.end(), Bytes.begin(), Bytes.end());
  std::vector<TBytes> Frames;
  std::size_t Pos = 0;
  for (;;) {
    const TLocated L =
        LocateFrame(FCrc, std::span<const std::uint8_t>(FBuf).subspan(Pos), FAtBoundary);
    Pos += L.Skip;
    FSkipped += L.Skip;
    FCrcRejects += L.CrcRejects;
    FAtBoundary = L.Skip == 0 && FAtBoundary;
    if (L.Length == 0) {
      break;
    }
    FAtBoundary = true;
    const auto Begin = FBuf.begin() + static_cast<std::ptrdiff_t>(Pos);
    Frames.emplace_back(Begin, Begin + static_cast<std::ptrdiff_t>(L.Length));
    Pos += L.Length;
  }
  FBuf.erase(FBuf.begin(), FBuf.begin() + static_cast<std::ptrdiff_t>(Pos));
  return Frames;
}

// ---- Status words and texts --------------------------------------------------------

// The texts too long for one line, kept out of the table so that no missing comma hides
// among them.
constexpr const char* ExternalEnableReset =
    "\"External laser enable\" signal was reset to 0, when the main power supply of the "
    "laser was in active state";
constexpr const char* CabinetDoorDelay =
    "For the lasers with beam switch: delay time between \u201cCabinet Door A\u201d and "
    "\u201cCabinet Door B\u201d signals is above, than specified";
constexpr const char* QcwPulseTooShort =
    "QCW specific: Appeared when QCW pulse is too short (width out of allowed range) and "
    "the alarm enabled IG412";

const std::array<const char*, AlarmWarnTextCount>& AlarmWarnTexts() {
  static const std::array<const char*, AlarmWarnTextCount> Table = [] {
    std::array<const char*, AlarmWarnTextCount> T{};
    T.fill("");
    const char* const Alarms1[32] = {
        "The laser fiber interlock",
        "Overheating of the laser",
        "High back reflection",
        "combiner photodiode 1 too high",
        "combiner photodiode 2 too high",
        "A laser module is failed",
        "E-Stop",
        "Overheating of electronic of the laser",
        "Feeding Fiber Low water flow",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Low water flow in Laser",
        "",
        "Combiner was failed",
        "Unexpected pump current",
        "Error of initialization of the main microcontroller in the laser",
        "Unexpected ground leakage",
        "A laser module is unconnected",
        "Error of the power supply in a laser module",
        "\"Chiller fault\" signal from the chiller",
        "Water in the laser",
        "Critical error in the laser (Call for service)",
        "Reserved",
        "Chiller error signal = Chiller fault or parameters of water is over range",
        "The power supply has any alarms",
        "The state of E-Stop button on the laser",
        "The problem with AC power for the laser electronics",
        "The state of the E-Stop signal",
    };
    const char* const Alarms2[32] = {
        "The output power above the average level (valid only for QCW+ mode)",
        "The invalid laser number in the input of fieldbus protocol",
        "The laser has been switched off automatically by \u201cAuto Switch Off\u201d system",
        "Alarm from the auxiliary user IO interface",
        "Alarm from the splice box",
        "The invalid optical path in the input of fieldbus protocol",
        "Reserved",
        "Average temperature of the laser modules is too low (T < 18 \u00b0C)",
        "Laser optical pulse is too long (valid only for QCW-lasers)",
        "Laser optical pulses duty cycle is too high (valid only for QCW-lasers)",
        "Laser module output optical cable is damaged (valid only for QCW-lasers)",
        "Reserved",
        "Dew point temperature of the laser is too high",
        "Laser optical pulses energy is too high (valid only for QCW-lasers)",
        "Error in BS channel with the mirror in the \u201cbeam\u201d position",
        ExternalEnableReset,
        CabinetDoorDelay,
        "The common maintenance alarm",
        "The second back reflection comparator state (comes from combiner\u2019s PD4) IG412",
        QcwPulseTooShort,
        "QCW specific: discharge circuit of the IG337 QCW module is broken IG412",
        "The SafetyPLC (SICK/PILZ) doesn't provide data within 1 second IG412",
        "At least one module has not input voltage from the main power supply",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
    };
    const char* const Warnings1[32] = {
        "The power supply of the laser has not switch on",
        "Reserved Laser module is On",
        "Laser module overheat",
        "Temperature of the chiller out of warning range",
        "The laser module is unconnected",
        "The output power near threshold level",
        "Warning of the discharge sensor",
        "Warning from the auxiliary user IO interface",
        "Amount of active laser modules is decreased(due to the module(-) failure)",
        "Average temperature of the laser modules is too low",
        "Reserved",
        "Communication with the fiber coding modules is lost",
        "Current source in the laser module is out of order",
        "Pump diode in the laser module is out of order",
        "Dew point temperature of the laser is near of the threshold",
        "Laser air conditioner has a malfunction",
        "Communication with the dew point and conditioner sensor is lost",
        "Module power supply",
        "FFBD warning in the beam switch",
        "Feeding fiber water flow is low at the beam switch",
        "Interlock fail for feeding fiber",
        "The common maintenance warning",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
        "Reserved",
    };
    for (std::size_t B = 0; B < 32; ++B) {
      T[(lsAlarms1 * 32) + B] = Alarms1[B];
      T[(lsAlarms2 * 32) + B] = Alarms2[B];
      T[(lsWarnings1 * 32) + B] = Warnings1[B];
    }
    return T;
  }();
  return Table;
}

TLaserStatusYLSArr StatusWords(const TLaserData& Data) {
  return {Data.Status1, Data.Status2, Data.Alarms1, Data.Alarms2, Data.Warnings1};
}

bool GetStatusBit(const TLaserStatusYLSArr& Words, int Index) {
  const auto Bit = [&Words](TLaserStatusYLS W, int B) { return ((Words[W] >> B) & 1U) != 0; };
  switch (Index) {
  case 1:
    return Bit(lsAlarms1, 1);
  case 2:
    return Bit(lsStatus1, 7);
  case 3:
    return Bit(lsAlarms1, 2);
  case 4:
    return Bit(lsStatus1, 1);
  case 6:
    return Bit(lsAlarms1, 5);
  case 7:
    return Bit(lsAlarms1, 21) || Bit(lsAlarms1, 5);
  case 8:
    return Bit(lsStatus1, 2);
  case 11:
    return Bit(lsStatus1, 12);
  case 19:
    return Bit(lsAlarms1, 28);
  case 24:
    return Bit(lsAlarms2, 7);
  case 25:
    return Bit(lsAlarms2, 0);
  case 29:
    return Bit(lsStatus1, 13);
  case 30:
    return Bit(lsStatus1, 0);
  case 31:
    return Bit(lsStatus1, 3);
  case 32:
    return Bit(lsStatus1, 11);
  case 33:
    return Bit(lsStatus1, 30);
  default:
    return false;
  }
}

bool HasAlarm(const TLaserStatusYLSArr& Words) {
  if ((Words[lsAlarms1] & 0xFFFEFFFFU) != 0 || (Words[lsAlarms2] & 0xFFFFFFFBU) != 0) {
    return true;
  }
  constexpr std::uint32_t AlarmWarnings = (1U << 1) | (1U << 2) | (1U << 4) | (1U << 8);
  return (Words[lsWarnings1] & AlarmWarnings) != 0;
}

} // namespace nclaser::yls
