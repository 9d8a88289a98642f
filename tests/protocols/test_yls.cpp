#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocols/yls.h"

namespace nclaser {
namespace {

using yls::TBytes;

const yls::TCrc16 Crc;

TBytes Req(std::uint16_t Code, const TBytes& Data) {
  return yls::BuildRequest(Crc, Code, Data);
}

TEST(YLSCodec, ByteExamples) {
  const std::string Check = "123456789";
  EXPECT_EQ(yls::Crc16(TBytes(Check.begin(), Check.end())), 0xBB3D);
  struct TRow {
    const char* Name;
    TBytes Got;
    TBytes Want;
  };
  const TRow Rows[] = {
      {"status request",
       Req(yls::cmdGetLaserStatus, {}),
       {0xd1, 0x07, 0, 0, 0, 0, 0, 0, 0xba, 0x50}},
      {"power supply on",
       Req(yls::cmdPowerSupply, yls::Word16(1)),
       {0xc4, 0x09, 0, 0, 0x02, 0, 0, 0, 0x01, 0x00, 0x2e, 0xcb}},
      {"emission on data", yls::Word16(yls::EmissionOnValue), {0x55, 0x01}},
      {"pump current 45.678", yls::Word16(*yls::PumpCurrentValue(45.678)), {0xd8, 0x11}},
      {"pump current 100", yls::Word16(*yls::PumpCurrentValue(100.0)), {0x10, 0x27}},
      {"guide laser on", yls::StructureA(0, 1), {0x00, 0x00, 0x01, 0x00}},
      {"guide laser off", yls::StructureA(0, 0), {0x00, 0x00, 0x00, 0x00}},
      {"output power", yls::Word32(0x01020304), {0x04, 0x03, 0x02, 0x01}},
      {"access level", yls::AccessLevelData(), {1, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const TRow& R : Rows) {
    EXPECT_EQ(R.Got, R.Want) << R.Name;
  }
  EXPECT_FALSE(yls::PumpCurrentValue(100.01));
  EXPECT_FALSE(yls::PumpCurrentValue(-0.01));
  // The access-level frame: 14 data bytes, N + 10 long, CRC over all before it.
  const TBytes Acc = Req(yls::cmdSetAccessLev, yls::AccessLevelData());
  ASSERT_EQ(Acc.size(), 24U);
  EXPECT_EQ(Acc[0], 0x20);
  EXPECT_EQ(Acc[1], 0x08);
  EXPECT_EQ(Acc[4], 14);
}

TEST(YLSCodec, AnswerCheck) {
  struct TRow {
    const char* Name;
    TBytes Frame;
    yls::TCheck Want;
  };
  TBytes BadCrc = yls::BuildAnswer(Crc, 2500, 0, {});
  BadCrc.back() ^= 0x01;
  const TRow Rows[] = {
      {"empty", {}, yls::TCheck::Empty},
      {"ack", yls::BuildAnswer(Crc, 2500, 0, {}), yls::TCheck::Ok},
      {"wrong crc", BadCrc, yls::TCheck::CrcError},
      {"code low byte 0", yls::BuildAnswer(Crc, 0x0900, 0, {}), yls::TCheck::CrcError},
      {"shorter than a header", {0x01, 0x00, 0x00}, yls::TCheck::SizeError},
  };
  for (const TRow& R : Rows) {
    yls::TAnswerHeader H;
    EXPECT_EQ(yls::CheckAnswer(Crc, R.Frame, H), R.Want) << R.Name;
  }
  yls::TAnswerHeader H;
  const TBytes Data = {1, 2, 3};
  ASSERT_EQ(yls::CheckAnswer(Crc, yls::BuildAnswer(Crc, 2032, 0xFFFA, Data), H), yls::TCheck::Ok);
  EXPECT_EQ(H.Answer, 2032);
  EXPECT_EQ(H.Executioncode, 0xFFFA);
  EXPECT_EQ(H.Datasize, 3U);
}

TEST(YLSCodec, StatusRecordIsLittleEndianAndShortFormsKeepTheirTail) {
  TBytes Wire(184);
  for (std::size_t I = 0; I < Wire.size(); ++I) {
    Wire[I] = static_cast<std::uint8_t>(I);
  }
  yls::TLaserData D{};
  ASSERT_TRUE(yls::DecodeLaserData(Wire, D));
  EXPECT_EQ(D.SetILD, 0x0302);
  EXPECT_EQ(D.SetPower, 0x07060504U);
  EXPECT_EQ(D.ModuleWithMinTemp, 18);
  EXPECT_EQ(D.WaterFlow, 0x1514);
  EXPECT_EQ(D.Status1, 0x19181716U);
  EXPECT_EQ(D.Warnings1, 0x29282726U);
  EXPECT_EQ(D.ModulesUnconnected[0], 46);
  EXPECT_EQ(D.ePcStatus, 0xA5A4A3A2U);
  EXPECT_EQ(D.SetSideSpotLaserPower2, 0xAFAE);
  EXPECT_EQ(D.CustomerOutputPower, 0xB7B6B5B4U);
  EXPECT_EQ(yls::EncodeLaserData(D, 184), Wire);

  yls::TLaserData Before = D;
  TBytes Zero176(176, 0);
  ASSERT_TRUE(yls::DecodeLaserData(Zero176, D));
  EXPECT_EQ(D.SetSideSpotLaserPower2, 0);
  EXPECT_EQ(D.OutputPeakPower, Before.OutputPeakPower);
  EXPECT_EQ(D.CustomerOutputPower, Before.CustomerOutputPower);
  D = Before;
  ASSERT_TRUE(yls::DecodeLaserData(TBytes(166, 0), D));
  EXPECT_EQ(D.ePcStatus, 0U);
  EXPECT_EQ(D.FFWaterFlow, Before.FFWaterFlow);
  EXPECT_FALSE(yls::DecodeLaserData(TBytes(170, 0), D));
  EXPECT_EQ(D.FFWaterFlow, Before.FFWaterFlow);

  yls::TLaserID Id{};
  TBytes IdWire(100, 0);
  IdWire[68] = 'S';
  IdWire[69] = 'N';
  IdWire[70] = '7';
  EXPECT_FALSE(yls::DecodeLaserID(TBytes(99, 0), Id));
  ASSERT_TRUE(yls::DecodeLaserID(IdWire, Id));
  EXPECT_EQ(yls::SerialNumberText(Id), "SN7");
  IdWire.assign(100, 'A'); // no terminating zero: all 32 characters
  ASSERT_TRUE(yls::DecodeLaserID(IdWire, Id));
  EXPECT_EQ(yls::SerialNumberText(Id), std::string(32, 'A'));

  yls::TTimeData T{};
  TBytes TWire(40, 0);
  TWire[16] = 0x01;
  TWire[23] = 0x80; // the top byte of the 64-bit work time
  TWire[36] = 0x2A;
  ASSERT_TRUE(yls::DecodeTimeData(TWire, T));
  EXPECT_EQ(T.WorkTime, 0x8000000000000001ULL);
  EXPECT_EQ(T.EmissionTimeTaday, 42U);
  yls::TDewPointData P{};
  ASSERT_TRUE(yls::DecodeDewPointData(TBytes{1, 0, 2, 0, 3, 0, 0xFF, 0xFF}, P));
  EXPECT_EQ(P.DewPoint, 0xFFFF);
  EXPECT_FALSE(yls::DecodeDewPointData(TBytes(9, 0), P));
}

TEST(YLSCodec, StreamReassembly) {
  yls::TLaserData D{};
  D.Status1 = 0x1234;
  const TBytes Status = yls::BuildAnswer(Crc, 2001, 0, yls::EncodeLaserData(D, 184));
  const TBytes Ack = yls::BuildAnswer(Crc, 2500, 0, {});
  TBytes BadCrc = Ack;
  BadCrc[BadCrc.size() - 2] ^= 0xFF;
  const auto Cat = [](std::initializer_list<TBytes> Parts) {
    TBytes All;
    for (const TBytes& P : Parts) {
      All.insert(All.end(), P.begin(), P.end());
    }
    return All;
  };
  struct TRow {
    const char* Name;
    std::vector<TBytes> Reads;
    std::vector<TBytes> Want;
  };
  const TRow Rows[] = {
      {"three pieces",
       {TBytes(Status.begin(), Status.begin() + 5),
        TBytes(Status.begin() + 5, Status.begin() + 100),
        TBytes(Status.begin() + 100, Status.end())},
       {Status}},
      {"two in one read", {Cat({Status, Ack})}, {Status, Ack}},
      {"garbage first", {Cat({{0x00, 0xFF, 0x13, 0x77, 0x00}, Ack})}, {Ack}},
      // In its place a wrong-CRC answer is passed on whole, for the analysis to reject;
      // behind noise the same bytes are a false start.
      {"wrong crc in place", {Cat({BadCrc, Ack})}, {BadCrc, Ack}},
      {"wrong crc behind noise", {Cat({{0x13}, BadCrc, Ack})}, {Ack}},
      {"wrong crc behind noise, cut after its header",
       {Cat({{0x13}, TBytes(BadCrc.begin(), BadCrc.begin() + 8)}),
        Cat({TBytes(BadCrc.begin() + 8, BadCrc.end()), Ack})},
       {Ack}},
      {"one and a half, then the rest",
       {Cat({Ack, TBytes(Status.begin(), Status.begin() + 9)}),
        TBytes(Status.begin() + 9, Status.end())},
       {Ack, Status}},
  };
  for (const TRow& R : Rows) {
    yls::TFrameAssembler A(Crc);
    std::vector<TBytes> Got;
    for (const TBytes& Read : R.Reads) {
      for (TBytes& F : A.Feed(Read)) {
        Got.push_back(std::move(F));
      }
    }
    EXPECT_EQ(Got, R.Want) << R.Name;
    EXPECT_EQ(A.Pending(), 0U) << R.Name;
  }
  // A header that claims more than any record is noise, not a frame to wait for.
  yls::TFrameAssembler A(Crc);
  EXPECT_TRUE(A.Feed(TBytes{0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00}).empty());
  EXPECT_EQ(A.Feed(Ack), std::vector<TBytes>{Ack});
}

TEST(YLSCodec, StatusBitsAndAlarmTest) {
  using W = yls::TLaserStatusYLSArr;
  struct TRow {
    W Words;
    int Index;
    bool Want;
  };
  const TRow Bits[] = {
      {{0x00000800, 0, 0, 0, 0}, 32, true},  {{0xFFFFFFFF, 0, 0, 0, 0}, 5, false},
      {{0x00000080, 0, 0, 0, 0}, 2, true},   {{0x00001000, 0, 0, 0, 0}, 11, true},
      {{0x40000000, 0, 0, 0, 0}, 33, true},  {{0, 0, 0x00200000, 0, 0}, 7, true},
      {{0, 0, 0x00000020, 0, 0}, 7, true},   {{0, 0, 0, 0x80, 0}, 24, true},
      {{0x00000008, 0, 0, 0, 0}, 31, true},  {{0xFFFFFFFF, 0, 0, 0, 0}, -1, false},
      {{0xFFFFFFFF, 0, 0, 0, 0}, 34, false},
  };
  for (const TRow& R : Bits) {
    EXPECT_EQ(yls::GetStatusBit(R.Words, R.Index), R.Want) << R.Index;
  }
  struct TAlarm {
    W Words;
    bool Want;
  };
  const TAlarm Alarms[] = {
      {{0, 0, 0, 0, 0}, false},          {{0xFFFFFFFF, 0xFFFFFFFF, 0x10000, 4, 1}, false},
      {{0, 0, 0x80000000, 0, 0}, true},  {{0, 0, 0, 8, 0}, true},
      {{0, 0, 0, 0, 0x100}, true},       {{0, 0, 0, 0, 0x2}, true},
      {{0, 0, 0, 0, 0xFFFFFEE9}, false},
  };
  for (const TAlarm& R : Alarms) {
    EXPECT_EQ(yls::HasAlarm(R.Words), R.Want) << std::hex << R.Words[4];
  }
  const auto& T = yls::AlarmWarnTexts();
  for (std::size_t I = 0; I < 64; ++I) {
    EXPECT_STREQ(T[I], "") << I;
  }
  EXPECT_STREQ(T[80], "");
  EXPECT_STREQ(T[65], "Overheating of the laser");
  EXPECT_STREQ(T[159], "Reserved");
  EXPECT_STREQ(T[128 + 8],
               "Amount of active laser modules is decreased(due to the module(-) failure)");
}

} // namespace
} // namespace nclaser
