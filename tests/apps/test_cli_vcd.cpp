// The VCD trace: header, initial values and the edges at their times.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "apps/nclaser/vcd.h"
#include "tests/apps/vcd_reader.h"

namespace nclaser::cli {
namespace {

using hostkit::TIoEvent;
using hostkit::TIoKind;

TEST(CliVcd, WritesEdgesAtTheirMicroseconds) {
  const double T0 = 1000.0;
  const std::vector<TIoEvent> Ev = {
      {T0 + 0.5, TIoKind::PwmOn, 1, 1, true},
      {T0 + 0.5, TIoKind::PwmFreq, 1, 5000, true},
      {T0 + 1.25, TIoKind::Output, 3, 1, true},
      {T0 + 1.25, TIoKind::Output, 3, 1, false}, // a repeated level is no edge
      {T0 + 2.0, TIoKind::DA, 0, 7.5, true},
      {T0 + 3.0, TIoKind::PwmRatio, 2, 0.9, true}, // another PWM channel: not the laser's
      {T0 + 10.0, TIoKind::Input, 4, 1, true},
      {T0 + 12.0, TIoKind::Output, 3, 0, true},
      {T0 + 12.0, TIoKind::PwmRatio, 1, 0.25, true},
  };
  std::ostringstream S;
  WriteVcd(S, Ev, {9}, T0, T0 + 20.0); // input 9 was read, never changed
  EXPECT_EQ(S.str(), "$version nclaser $end\n$timescale 1us $end\n$scope module nclaser $end\n"
                     "$var wire 1 ! out3 $end\n$var wire 1 \" in4 $end\n$var wire 1 # in9 $end\n"
                     "$var real 64 $ da0 $end\n$var wire 1 % pwm_on $end\n"
                     "$var real 64 & pwm_freq $end\n$var real 64 ' pwm_ratio $end\n"
                     "$upscope $end\n$enddefinitions $end\n"
                     "#0\n$dumpvars\n0!\n0\"\n0#\nr0 $\n0%\nr0 &\nr0 '\n$end\n"
                     "#500\n1%\nr5000 &\n#1250\n1!\n#2000\nr7.5 $\n#10000\n1\"\n"
                     "#12000\n0!\nr0.25 '\n#20000\n");
}

TEST(CliVcd, ManySignalsGetDistinctIdentifiers) {
  std::vector<TIoEvent> Ev;
  for (int P = 0; P < 200; ++P) {
    Ev.push_back({1.0 + P, TIoKind::Output, P, 1, true});
  }
  std::ostringstream S;
  WriteVcd(S, Ev, {}, 0.0, 300.0);
  std::istringstream In(S.str());
  std::set<std::string> Ids;
  for (std::string Tok, Type, Width, Id; In >> Tok;) {
    if (Tok == "$var" && In >> Type >> Width >> Id) {
      EXPECT_TRUE(Ids.insert(Id).second) << Id;
    }
  }
  EXPECT_EQ(Ids.size(), 203u);
  for (const int P : {0, 93, 94, 199}) {
    const auto Out = testing::VcdChanges(S.str(), "out" + std::to_string(P));
    ASSERT_EQ(Out.size(), 1u) << P;
    EXPECT_EQ(Out[0], (std::pair<long long, double>(1000LL * (P + 1), 1.0))) << P;
  }
}

} // namespace
} // namespace nclaser::cli
