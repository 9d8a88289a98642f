// TIPGYLSDriver without a link: answers are handed to AnalyzeResponse directly. What needs
// traffic is tested end to end against the simulator.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/errors.h"
#include "ipgdrv/ylsdriver.h"
#include "strings/messages.h"
#include "tests/support/check_words.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

using yls::TBytes;

class YlsDriver : public testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    CommFactory = nullptr; // no link: nothing goes on any wire
    Cfg.Initialize();
    Cfg.IPGType = ltYLSGemNet;
  }
  void TearDown() override {
    Drv.reset();
    HostTest::TearDown();
  }
  void Make() { Drv = std::make_unique<TIPGYLSDriver>(nullptr, Cfg); }

  TBytes StatusFrame(std::uint32_t Alarms1, std::uint32_t Alarms2, std::uint32_t Warnings1,
                     std::size_t Size = 184, std::uint32_t Status1 = 0) {
    yls::TLaserData D{};
    D.SetILD = 4567;
    D.TemperatureMean = 253;
    D.Status1 = Status1;
    D.Alarms1 = Alarms1;
    D.Alarms2 = Alarms2;
    D.Warnings1 = Warnings1;
    D.OutputPeakPower = 0x11111111;
    TBytes Data = yls::EncodeLaserData(D, std::min<std::size_t>(Size, 184));
    Data.resize(Size, 0);
    return yls::BuildAnswer(Crc, yls::cmdGetLaserStatus, 0, Data);
  }

  yls::TCrc16 Crc;
  TIPGLaserParams Cfg{};
  std::unique_ptr<TIPGYLSDriver> Drv;
};

TEST_F(YlsDriver, AlarmTestAndDescription) {
  Make();
  struct TRow {
    std::uint32_t A1, A2, W1;
    bool Alarm;
    std::string Desc;
  };
  const TRow Rows[] = {
      {0, 0, 0, false, ""},
      {0x00010000, 0, 0, false, "Laser: (2_16)"},
      {0, 0x00000004, 0, false,
       "Laser: The laser has been switched off automatically by \u201cAuto Switch Off\u201d "
       "system(3_2)"},
      {0, 0, 0x00000100, true,
       "Laser: Amount of active laser modules is decreased(due to the module(-) failure)(4_8)"},
      {0, 0, 0x00000001, false, "Laser: The power supply of the laser has not switch on(4_0)"},
      {0x2, 0, 0x4, true, "Laser: Overheating of the laser(2_1)Laser module overheat(4_2)"},
      {0x80000000, 0x80000000, 0, true,
       "Laser: The state of the E-Stop signal(2_31)Reserved(3_31)"},
  };
  for (const TRow& R : Rows) {
    Drv->AnalyzeResponse(StatusFrame(R.A1, R.A2, R.W1));
    EXPECT_EQ(Drv->HasAlarm(), R.Alarm) << R.Desc;
    EXPECT_EQ(Drv->GetAlarmDesc(), R.Desc);
  }
  EXPECT_EQ(Drv->GetAlmWarnDes(yls::lsAlarms1, 1), "Overheating of the laser(2_1)");
  EXPECT_EQ(Drv->GetAlmWarnDes(yls::lsStatus1, 0), "(0_0)");
  const auto Raises = [this](int Word, int Bit) -> std::string {
    try {
      Drv->GetAlmWarnDes(Word, Bit);
    } catch (const ELaserError& E) {
      return E.what();
    }
    return "no exception";
  };
  EXPECT_EQ(Raises(yls::lsWarnings1, 32), "GetAlmWarnDes Idx Error Message");
  EXPECT_EQ(Raises(yls::lsWarnings1, -1), "GetAlmWarnDes Idx Error Message");
  EXPECT_EQ(Raises(5, 0), "FAlarmWarnStrTable Length Error Message");
}

TEST_F(YlsDriver, AnswersUpdateOnlyWhatTheyCarry) {
  Make();
  EXPECT_FALSE(Drv->GetCmdStatus());
  Drv->AnalyzeResponse(StatusFrame(0, 0, 0, 184, 0x00000800));
  EXPECT_TRUE(Drv->GetCmdStatus());
  EXPECT_TRUE(Drv->GetStatusBit(32));
  EXPECT_DOUBLE_EQ(Drv->GetDiodeCurrent(), 45.67);
  EXPECT_DOUBLE_EQ(Drv->GetTemperatureMean(), 25.3);

  // 176 bytes (the short forms keep their tail: the codec's business) update the words.
  Drv->AnalyzeResponse(StatusFrame(0x2, 0, 0, 176));
  EXPECT_TRUE(Drv->HasAlarm());
  EXPECT_FALSE(Drv->GetStatusBit(32));

  // 170 bytes: the record stays, the words are copied again from it.
  Drv->AnalyzeResponse(StatusFrame(0, 0, 0, 170));
  EXPECT_FALSE(Drv->GetCmdStatus());
  EXPECT_TRUE(Drv->HasAlarm());

  // An acknowledged control command leaves the status of the last decoded answer.
  Drv->AnalyzeResponse(StatusFrame(0, 0, 0, 166));
  EXPECT_TRUE(Drv->GetCmdStatus());
  Drv->AnalyzeResponse(yls::BuildAnswer(Crc, yls::cmdPowerSupply, 0, {}));
  EXPECT_TRUE(Drv->GetCmdStatus());
  EXPECT_EQ(Drv->GetCmdCode(), yls::cmdPowerSupply);

  // Short identification: not decoded.
  Drv->AnalyzeResponse(yls::BuildAnswer(Crc, yls::cmdGetLaserID, 0, TBytes(99, 'A')));
  EXPECT_FALSE(Drv->GetCmdStatus());

  // Time counters and dew point of their exact sizes.
  yls::TTimeData T{};
  T.WorkTimeToday = 77;
  T.EmissionTimeTaday = 5;
  Drv->AnalyzeResponse(yls::BuildAnswer(Crc, yls::cmdGetTimeData, 0, yls::EncodeTimeData(T)));
  EXPECT_TRUE(Drv->GetCmdStatus());
  EXPECT_EQ(Drv->GetWorkTimeToday(), 77U);
  EXPECT_EQ(Drv->GetEmissionTimeToday(), 5U);
  Drv->AnalyzeResponse(
      yls::BuildAnswer(Crc, yls::cmdGetDewPointData, 0, yls::EncodeDewPointData({1, 2, 3, 4})));
  EXPECT_EQ(Drv->GetDewPointData().DewPoint, 4);
  // A failed execution is not decoded.
  Drv->AnalyzeResponse(yls::BuildAnswer(Crc, yls::cmdGetTimeData, 0x0003, TBytes(40, 0xFF)));
  EXPECT_EQ(Drv->GetWorkTimeToday(), 77U);
}

// The CRC (ARC, low byte first) of a frame built here: only the exact one is taken, not
// one off by one either way, big-endian or complemented.
TEST_F(YlsDriver, OnlyAnAnswerWithItsExactCrcIsTaken) {
  Make();
  const TBytes Good = testing::YlsFrame(yls::cmdGetTimeData, 0, TBytes(40, 0xFF));
  const unsigned Crc = Good[48] | (Good[49] << 8U);
  for (const unsigned C : {Crc, Crc + 1, Crc - 1, (Crc >> 8U) | (Crc << 8U), ~Crc}) {
    TBytes F = Good;
    F[48] = static_cast<std::uint8_t>(C);
    F[49] = static_cast<std::uint8_t>(C >> 8U);
    Drv->AnalyzeResponse(testing::YlsFrame(yls::cmdPowerSupply, 0, {}));
    Drv->AnalyzeResponse(F);
    EXPECT_EQ(Drv->GetCmdCode() == yls::cmdGetTimeData, C == Crc) << C;
  }
}

TEST_F(YlsDriver, DebugModeLogsSizesAndErrors) {
  Cfg.YLS.DebugMode = true;
  Make();
  Drv->AnalyzeResponse(StatusFrame(0, 0, 0, 176));
  Drv->AnalyzeResponse(StatusFrame(0, 0, 0, 170));
  // An empty acknowledgement of the lowest control code is no data answer: nothing logged.
  Drv->AnalyzeResponse(yls::BuildAnswer(Crc, yls::cmdSetAccessLev, 0, {}));
  TBytes Bad = StatusFrame(0, 0, 0, 166);
  Bad.back() ^= 1;
  Drv->AnalyzeResponse(Bad);
  Drv->AnalyzeResponse(yls::BuildAnswer(Crc, yls::cmdEmission, 0x0002, {}));
  std::vector<std::pair<std::string, TColor>> Got;
  for (const auto& L : Host->App.Lines()) {
    Got.emplace_back(L.Text, L.Color);
  }
  const std::vector<std::pair<std::string, TColor>> Want = {
      {"Datasize OK!\xEF\xBC\x9A 176", clGreen},  {"Datasize Error!\xEF\xBC\x9A 170", clRed},
      {SYLSAnalyzeResponseErr.Get(), clBlack},    {"AnalyzeResponse CRC Error", clRed},
      {SYLSCmdErr.Get() + ",ErrorCode:2", clRed},
  };
  EXPECT_EQ(Got, Want);
}

TEST_F(YlsDriver, WithoutALinkNothingIsSentAndTheMonitorWaits) {
  Make();
  EXPECT_FALSE(Drv->GetConnected());
  EXPECT_FALSE(Drv->GetLaserIDCmd());
  EXPECT_EQ(Drv->GetSerialNumber(), "");
  Drv->PowerSupplyOn();
  EXPECT_EQ(Drv->GetCmdCode(), 0);
  EXPECT_EQ(Drv->GetMonThread()->GetThreadDelay(), 50); // no TCP client was made
  EXPECT_FALSE(Drv->CheckConnection());
}

} // namespace
} // namespace nclaser
