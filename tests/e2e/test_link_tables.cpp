// Every make with a link, against its simulator. Set points on their way to the wire: each
// make's rule (truncated, halves to even, clamped, wrapped) at x.5 and x.7 and at its edges,
// driven through the host's numbered commands, so that a rounding rule swapped anywhere
// between the operation and the line shows; where a frame carries a check, the whole frame
// is compared with one whose check is built here. And the pace of the IPG drivers' tries
// to reach a laser that is not there, and of their polls: no busy loop, no crawl.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/clock.h"
#include "sim/table.h"
#include "tests/support/check_words.h"
#include "tests/support/serial_params.h"
#include "tests/support/sim_link_test.h"

namespace nclaser {
namespace {

using testing::Until;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view S) {
  return {S.begin(), S.end()};
}
Bytes Le16(unsigned V) {
  return {static_cast<std::uint8_t>(V), static_cast<std::uint8_t>(V >> 8U)};
}
// An SPI diode packet (code Code, K tenths) with its sum wrapped at 256.
Bytes Spi(std::uint8_t Code, unsigned K) {
  Bytes P{0x1B, 0x03, Code, static_cast<std::uint8_t>(K), static_cast<std::uint8_t>(K >> 8U), 0x0D};
  unsigned Sum = 0;
  for (const auto X : P) {
    Sum += X;
  }
  P.push_back(static_cast<std::uint8_t>(Sum));
  return P;
}
Bytes Jk(std::uint8_t Id, std::uint32_t V) {
  return testing::JkFrame(0x01, {0x5D, 0x01, Id, static_cast<std::uint8_t>(V >> 24U),
                                 static_cast<std::uint8_t>(V >> 16U),
                                 static_cast<std::uint8_t>(V >> 8U), static_cast<std::uint8_t>(V)});
}
Bytes Yls(unsigned Hundredths) {
  return testing::YlsFrame(2501, 0, Le16(Hundredths));
}

struct TRow {
  double Value;
  std::optional<Bytes> Want; // none: nothing goes out
  int Cmd = 21;              // the host's command: 21 is the diode current in percent
};

struct TSetPointMake {
  const char* Rig;
  Bytes Head;   // a set-point request begins with these bytes
  size_t At, N; // the set point is bytes At..At+N of it; N = 0: the whole request
  std::vector<TRow> Rows;
  const char* Ready = nullptr; // known before the first row: "connected", or the model's name
};
void PrintTo(const TSetPointMake& M, std::ostream* Os) {
  *Os << M.Rig;
}

TRow R(double Value, std::optional<Bytes> Want, int Cmd = 21) {
  return {Value, std::move(Want), Cmd};
}
TRow R(double Value, std::string_view Want) {
  return {Value, Text(Want)};
}
TSetPointMake Make(const char* Rig, Bytes Head, size_t At, size_t N, std::vector<TRow> Rows,
                   const char* Ready = nullptr) {
  return {Rig, std::move(Head), At, N, std::move(Rows), Ready};
}

const TSetPointMake Makes[] = {
    // Truncated; above 100 nothing.
    Make("ylr", Text("SDC "), 0, 0,
         {R(45.5, "SDC 45\r"), R(100.5, std::nullopt), R(46.7, "SDC 46\r"), R(100, "SDC 100\r")}),
    // Hundredths, halves to even, at most 100 %; the whole frame with its CRC.
    Make("yls", {0xC5, 0x09}, 0, 0,
         {R(12.125, Yls(1212)), R(13.375, Yls(1338)), R(14.347, Yls(1435)), R(120, Yls(10000))}),
    // Halves to even, the low byte.
    Make("raycus", {0x1B, 'C', 'P'}, 3, 1,
         {R(60.5, Bytes{60}), R(61.5, Bytes{62}), R(62.7, Bytes{63}), R(300, Bytes{44})}),
    // Truncated, within 1..100.
    Make("raycus-qcw", {0xAA, 0x55, 0x00, 0x0D, 0x00, 0xFF, 0xE2}, 9, 1,
         {R(60.5, Bytes{60}), R(61.7, Bytes{61}), R(150, Bytes{100}), R(0.7, Bytes{1})}, "QCW150"),
    // Tenths, halves to even, the low 16 bits; the sum just below 256 and past it.
    Make("spi", {0x1B, 0x03, 0x0A}, 0, 0,
         {R(51.25, Spi(0x0A, 512)), R(52.75, Spi(0x0A, 528)), R(53.37, Spi(0x0A, 534)),
          R(6600, Spi(0x0A, 66000 & 0xFFFF)),
          R(20.2, Bytes{0x1B, 0x03, 0x0A, 0xCA, 0x00, 0x0D, 0xFF}),
          R(25.5, Bytes{0x1B, 0x03, 0x0A, 0xFF, 0x00, 0x0D, 0x34})}),
    Make("spi1000", {0x1B, 0x03, 0x1A}, 0, 0,
         {R(51.25, Spi(0x1A, 512)), R(52.75, Spi(0x1A, 528)), R(53.37, Spi(0x1A, 534)),
          R(18.6, Bytes{0x1B, 0x03, 0x1A, 0xBA, 0x00, 0x0D, 0xFF}),
          R(20.2, Bytes{0x1B, 0x03, 0x1A, 0xCA, 0x00, 0x0D, 0x0F})}),
    // Tenths, and the 0x5Dxx parameters whole, halves to even, the low 32 bits; the last
    // two carry a CRC over all-FF bytes and the wrap past 32 bits.
    Make("jk", {0x7E, 0x01, 0x5D, 0x01}, 0, 0,
         {R(51.25, Jk(0x05, 512)), R(52.75, Jk(0x05, 528)), R(53.37, Jk(0x05, 534)),
          R(2.5, Jk(0x07, 2), 0x5D07), R(3.5, Jk(0x07, 4), 0x5D07), R(2.7, Jk(0x07, 3), 0x5D07),
          R(4294967295.0, Jk(0xFF, 0xFFFFFFFF), 0x5DFF), R(4294967296.5, Jk(0xFF, 0), 0x5DFF)}),
    // Tenths of a watt of the 1000 W maximum, halves to even.
    Make("mars", Text("OUT="), 0, 0,
         {R(12.125, "OUT=04BC00000000\r\n"), R(13.375, "OUT=053A00000000\r\n"),
          R(14.347, "OUT=059B00000000\r\n")},
         "connected"),
    // Halves to even, the low byte, then within 10..100.
    Make("cas", Text("SCUS:"), 0, 0,
         {R(66.5, "SCUS:66\r"), R(67.5, "SCUS:68\r"), R(68.7, "SCUS:69\r"), R(5, "SCUS:10\r"),
          R(150, "SCUS:100\r"), R(300, "SCUS:44\r")}),
    // Halves to even, the low byte, two digits or three.
    Make("qinghua", Text("w61 "), 0, 0,
         {R(6.5, "w61 06\r\n"), R(7.5, "w61 08\r\n"), R(8.7, "w61 09\r\n"), R(300, "w61 44\r\n"),
          R(100, "w61 100\r\n")}),
};

template <class TParam>
class LinkTable : public testing::SimLinkTest<sim::TSimEndpoint>,
                  public ::testing::WithParamInterface<TParam> {
protected:
  LinkTable() : SimLinkTest(47) {}
  bool IsPoll(const Bytes& /*Request*/) const override { return false; }
  TLaserParams Up(const char* RigName, bool Tcp) {
    Link = Tcp ? testing::TLink::Tcp : testing::TLink::Pty;
    UseRig(RigName);
    Plug(sim::StartRig(*Rig, Tcp, Tcp ? Address : ""));
    return RigParams();
  }
};

class SetPointWire : public LinkTable<TSetPointMake> {
protected:
  // The set points on the wire so far, a repeat of the one before counted once.
  std::vector<Bytes> SetPoints() const {
    const TSetPointMake& M = GetParam();
    std::vector<Bytes> Out;
    for (const auto& R : Sim->Requests()) {
      const Bytes& B = R.Bytes;
      if (B.size() < std::max(M.Head.size(), M.At + M.N) ||
          !std::equal(M.Head.begin(), M.Head.end(), B.begin())) {
        continue;
      }
      const Bytes F = M.N == 0 ? B
                               : Bytes(B.begin() + static_cast<long>(M.At),
                                       B.begin() + static_cast<long>(M.At + M.N));
      if (Out.empty() || Out.back() != F) {
        Out.push_back(F);
      }
    }
    return Out;
  }
};

TEST_P(SetPointWire, EachMakeRoundsAndBoundsItsSetPointByItsOwnRule) {
  const TSetPointMake& M = GetParam();
  TLaserParams P = Up(M.Rig, M.Rig == std::string_view("yls"));
  P.DefParams.PWM.DiodeCurrent = 1.0; // its going out shows the link is up
  if (P.LaserType == eltRay) {
    P.DefParams.Model = "Raycus";
    (void)Utf8ToTextBuf("QCW", P.CfgRay.PulseModel);
    P.CfgRay.QCW.PulseRatio = 10; // a QCW150 keeps power x ratio within 1000
  }
  TNcLaser& L = Adopt(NewRigLaser(P));
  L.ExecuteCmd(21, 1.0); // for the makes that start their thread after the set point
  ASSERT_TRUE(Until([&] { return !SetPoints().empty(); }, 5000));
  const std::string Ready = M.Ready != nullptr ? M.Ready : "";
  ASSERT_TRUE(Until(
      [&] {
        return Ready == "connected" ? Connected() > 0
                                    : L.GetDeviceDesc().find(Ready) != std::string::npos;
      },
      5000));
  const size_t Start = SetPoints().size();
  std::vector<Bytes> Want;
  for (const TRow& R : M.Rows) {
    SCOPED_TRACE(R.Value);
    L.ExecuteCmd(R.Cmd, R.Value);
    if (R.Want) {
      Want.push_back(*R.Want);
      EXPECT_TRUE(Until([&] { return SetPoints().size() >= Start + Want.size(); }, 5000));
    }
  }
  Sleep(50);
  const auto Got = SetPoints();
  ASSERT_GE(Got.size(), Start);
  EXPECT_EQ(std::vector<Bytes>(Got.begin() + static_cast<long>(Start), Got.end()), Want);
}

std::string MakeName(const ::testing::TestParamInfo<TSetPointMake>& I) {
  std::string N = I.param.Rig;
  std::erase(N, '-');
  return N;
}
INSTANTIATE_TEST_SUITE_P(Makes, SetPointWire, ::testing::ValuesIn(Makes), MakeName);

enum class TLinkState { Up, Silent, Refused }; // Refused: answers pings, refuses connections

struct TPace {
  const char* Rig;
  TLinkState State;
  double PeriodMs; // between two tries to connect, or two polls of a laser that is up
  bool Tcp = true;
  Bytes Poll = {}; // what is counted when the laser is up
};
void PrintTo(const TPace& R, std::ostream* Os) {
  *Os << R.Rig << " " << static_cast<int>(R.State) << (R.Tcp ? " tcp" : " serial");
}
TPace Polls(const char* Rig, double PeriodMs, bool Tcp, Bytes Poll) {
  return {Rig, TLinkState::Up, PeriodMs, Tcp, std::move(Poll)};
}

// YLS tries again at once after a failed try (a silent laser's ping takes 100 ms), and
// keeps that pace when the try fails sooner. A YLR round tries twice, before its poll and
// after its 100 ms pause: two tries per 300 ms on a silent laser, per 100 ms at most. A YLR
// poll costs its drain (up to 20 ms) and the pause, 50 ms on a serial line, 100 ms on TCP;
// a YLS round its two requests and the 100 ms pause; a JK cycle with an answer a 20 ms read
// pause and the 5 ms sleep; Raycus QCW asks each 100 ms.
const TPace Paces[] = {
    {"yls", TLinkState::Silent, 100.0},
    {"yls", TLinkState::Refused, 100.0},
    {"ylr", TLinkState::Silent, 150.0},
    {"ylr", TLinkState::Refused, 50.0},
    Polls("ylr", 50.0, false, Text("STA\r")),
    Polls("ylr", 100.0, true, Text("STA\r")),
    Polls("yls", 115.0, true, {0xD1, 0x07, 0, 0, 0, 0, 0, 0, 0xBA, 0x50}),
    Polls("jk", 25.0, false, testing::JkFrame(0x01, {0x03})),
    Polls("raycus-qcw", 100.0, false,
          {0xAA, 0x55, 0x00, 0x06, 0x00, 0xFF, 0xE1, 0x00, 0x01, 0xE0, 0x55, 0xAA})};

using LinkPace = LinkTable<TPace>;

TEST_P(LinkPace, TriesAndPollsKeepTheirPeriod) {
  const TPace& R = GetParam();
  TLaserParams P = Up(R.Rig, R.Tcp);
  if (R.State == TLinkState::Silent) {
    Sim->PullCable(0);
  } else if (R.State == TLinkState::Refused) {
    // The simulator answers the pings; nothing listens where the laser connects.
    (void)Utf8ToTextBuf(sim::LoopbackAddress(49), P.CfgIPG.YLR.Net.TcpHost);
    (void)Utf8ToTextBuf(sim::LoopbackAddress(49), P.CfgIPG.YLS.Net.TcpHost);
  }
  Adopt(NewRigLaser(P));
  const auto Counted = [&] {
    return R.State == TLinkState::Up ? Count(R.Poll) : Pings->Probes.load();
  };
  testing::ExpectPace(Counted, R.PeriodMs, 300);
  EXPECT_EQ(Sim->ConnectCount() == 0, R.State != TLinkState::Up || !R.Tcp);
}

std::string PaceName(const ::testing::TestParamInfo<TPace>& I) {
  const char* States[] = {"Up", "Silent", "Refused"};
  std::string N = I.param.Rig;
  std::erase(N, '-');
  return N + States[static_cast<int>(I.param.State)] + (I.param.Tcp ? "" : "Serial");
}
INSTANTIATE_TEST_SUITE_P(Drivers, LinkPace, ::testing::ValuesIn(Paces), PaceName);

} // namespace
} // namespace nclaser
