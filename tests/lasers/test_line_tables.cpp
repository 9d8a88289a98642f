// The serial lasers on a scripted line. Answers whose check sits at its overflow edge, built
// here byte by byte: the SPI sum that wraps at 256 and the Raycus QCW check word that must
// hold the plain sum; a good answer changes the laser's state, one whose check is wrapped,
// saturated or off by one does not. And how often each thread retries a port that will not
// open and polls a laser that does not answer: never faster than its period (no busy loop
// on a missing device), and not many times slower either.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "host/clock.h"
#include "lasers/factory.h"
#include "params/textbuf.h"
#include "raydrv/rayqcwdriver.h"
#include "tests/support/fake_comm_test.h"
#include "tests/support/serial_params.h"

namespace nclaser {
namespace {

using testing::TBytes;

class LineTable : public testing::FakeCommTest {
protected:
  // Rig's laser on the line, with no set point to send.
  TNcLaserPtr Make(const std::string& Rig) {
    TLaserParams P = testing::RigLaserParams(Rig, "Raycus", 0.0);
    (void)Utf8ToTextBuf("QCW", P.CfgRay.PulseModel); // read by the Raycus QCW class only
    return FindLaserClass(sim::FindRig(Rig)->Class)->Factory(nullptr, P);
  }
};

TEST_F(LineTable, SpiAnswerSumWrapsAt256) {
  // 1B 03 01, emission on, a filler bringing the sum to 255 or 256, 0D; 1B 0F 01, aiming on
  // in the second data byte, the filler, 12 more data bytes, 0D.
  const auto Spi = [](std::uint8_t Filler, std::uint8_t Sum) {
    return TBytes{0x1B, 0x03, 0x01, 0x01, Filler, 0x0D, Sum};
  };
  const auto Spi1000 = [](std::uint8_t Filler, std::uint8_t Sum) {
    TBytes P{0x1B, 0x0F, 0x01, 0x00, 0x40, Filler};
    P.resize(17, 0x00);
    P.insert(P.end(), {0x0D, Sum});
    return P;
  };
  const std::tuple<const char*, TBytes, bool> Rows[] = {
      {"spi", Spi(0xD2, 0xFF), true},         {"spi", Spi(0xD2, 0xFE), false},
      {"spi", Spi(0xD3, 0x00), true},         {"spi", Spi(0xD3, 0xFF), false}, // saturated
      {"spi", Spi(0xD3, 0x01), false},        {"spi1000", Spi1000(135, 0xFF), true},
      {"spi1000", Spi1000(135, 0x00), false}, {"spi1000", Spi1000(136, 0x00), true},
      {"spi1000", Spi1000(136, 0xFF), false}, {"spi1000", Spi1000(136, 0x01), false},
  };
  for (const auto& [Rig, Answer, Taken] : Rows) {
    SCOPED_TRACE(::testing::PrintToString(Answer));
    const TNcLaserPtr L = Make(Rig);
    Line->Feed(Answer);
    ASSERT_TRUE(Line->WaitFor([&] { return Line->PendingInput() == 0; }, 3000));
    const bool Is1000 = std::string(Rig) == "spi1000";
    EXPECT_EQ(
        testing::Until([&] { return Is1000 ? L->GetIsAimingOn() : L->GetIsEmissionOn(); }, 150),
        Taken);
  }
}

// A status answer naming a QCW450 whose bytes from CTN to the data's end add up to Sum,
// carrying Check as its check word.
TBytes QcwStatus(unsigned Sum, unsigned Check) {
  TBytes Data{'Q', 'C', 'W', '4', '5', '0'};
  Data.resize(32, 0x00); // no modules: what follows the head is not read
  for (unsigned Have = 0xE1 + 'Q' + 'C' + 'W' + '4' + '5' + '0'; Have < Sum;) {
    Data.push_back(static_cast<std::uint8_t>(std::min(Sum - Have, 0xFFU)));
    Have += Data.back();
  }
  const auto Len = static_cast<unsigned>(Data.size() + 6);
  TBytes F{
      0xAA, 0x55, static_cast<std::uint8_t>(Len >> 8U), static_cast<std::uint8_t>(Len), 0x00, 0x00,
      0xE1, 0x00};
  F.insert(F.end(), Data.begin(), Data.end());
  F.insert(F.end(),
           {static_cast<std::uint8_t>(Check >> 8U), static_cast<std::uint8_t>(Check), 0x55, 0xAA});
  return F;
}

TEST_F(LineTable, RaycusQcwCheckWordHoldsThePlainSum) {
  const std::tuple<unsigned, unsigned, bool> Rows[] = {
      {65535, 0xFFFF, true},  {65535, 0xFFFE, false},
      {65534, 0xFFFE, true},  {65536, 0x0000, false}, // wrapped, as a request's would be
      {65536, 0xFFFF, false},                         // saturated
      {65791, 0x00FF, false},                         // 258 bytes of FF, wrapped
  };
  for (const auto& [Sum, Check, Taken] : Rows) {
    SCOPED_TRACE(Sum);
    TRaycusLaserParams P;
    P.Initialize();
    P.Comm.CommPort = 1;
    TRayQCWDriver D(nullptr, P);
    D.LockComm(); // the monitor reads none of it
    Line->Feed(QcwStatus(Sum, Check));
    D.CheckStatus();
    D.UnlockComm();
    EXPECT_EQ(D.GetIsQCW450(), Taken);
  }
}

struct TPace {
  const char* Rig;
  bool Opens;      // false: the port cannot be opened, and the open attempts are counted
  double PeriodMs; // the period between two of them
  TBytes Poll;     // with an open port: the writes that begin with these bytes are counted
};
void PrintTo(const TPace& P, std::ostream* Os) {
  *Os << P.Rig << (P.Opens ? " polls" : " reopens");
}
TPace Reopen(const char* Rig, double PeriodMs = 20.0) {
  return {Rig, false, PeriodMs, {}};
}
TPace Poll(const char* Rig, double PeriodMs, TBytes Poll = {}) {
  return {Rig, true, PeriodMs, std::move(Poll)};
}

// Every serial thread retries its port each 20 ms; the Raycus QCW monitor reopens it before
// its status query and in its link check, each once per 100 ms round. A silent laser: JK
// waits five empty 20 ms reads and 5 ms; SPI polls each 5 ms cycle; Mars and NLight ask
// again after each write's 200 ms pause; Raycus QCW asks each 100 ms.
const TPace Paces[] = {Reopen("jk"),
                       Reopen("spi"),
                       Reopen("spi1000"),
                       Reopen("raycus"),
                       Reopen("mars"),
                       Reopen("nlight"),
                       Reopen("cas"),
                       Reopen("qinghua"),
                       Reopen("raycus-qcw", 50.0),
                       Poll("jk", 105.0, {0x7E, 0x01, 0x03}),
                       Poll("spi", 5.0, {0x1B, 0x01, 0x01, 0x0D, 0x2A}),
                       Poll("spi1000", 5.0, {0x1B, 0x01, 0x01, 0x0D, 0x2A}),
                       Poll("mars", 200.0),
                       Poll("nlight", 200.0),
                       Poll("raycus-qcw", 100.0, {0xAA, 0x55, 0x00, 0x06, 0x00, 0xFF, 0xE1})};

class SerialPace : public LineTable, public ::testing::WithParamInterface<TPace> {};

TEST_P(SerialPace, RetriesAndPollsKeepTheirPeriod) {
  const TPace& P = GetParam();
  const auto Counted = [&] {
    if (!P.Opens) {
      return Line->OpenAttempts();
    }
    const auto W = Line->Writes();
    return static_cast<int>(std::count_if(W.begin(), W.end(), [&](const auto& X) {
      return X.Bytes.size() >= P.Poll.size() &&
             std::equal(P.Poll.begin(), P.Poll.end(), X.Bytes.begin());
    }));
  };
  Line->SetCanOpen(P.Opens);
  const TNcLaserPtr L = Make(P.Rig);
  testing::ExpectPace(Counted, P.PeriodMs);
}

std::string PaceName(const ::testing::TestParamInfo<TPace>& I) {
  std::string N = I.param.Rig;
  std::erase(N, '-');
  return N + (I.param.Opens ? "Poll" : "Reopen");
}
INSTANTIATE_TEST_SUITE_P(Threads, SerialPace, ::testing::ValuesIn(Paces), PaceName);

} // namespace
} // namespace nclaser
