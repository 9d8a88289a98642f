// The VCD trace read back: header, initial values and the edges at their times.
#include <gtest/gtest.h>

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
  WriteVcd(S, Ev, {9}, T0, T0 + 20.0);
  const auto V = testing::ReadVcd(S.str());
  ASSERT_EQ(V.Error, "") << S.str();
  EXPECT_EQ(V.Timescale, "1us");
  for (const char* N : {"out3", "in4", "in9", "da0", "pwm_on", "pwm_freq", "pwm_ratio"}) {
    EXPECT_TRUE(V.Has(N)) << N;
    EXPECT_EQ(V.Initial.count(N), 1u) << N;
  }
  EXPECT_EQ(V.Vars.size(), 7u);
  for (const auto& [Id, Var] : V.Vars) {
    const bool Real =
        Var.Name.rfind("da", 0) == 0 || Var.Name == "pwm_freq" || Var.Name == "pwm_ratio";
    EXPECT_EQ(Var.Type, Real ? "real" : "wire") << Var.Name;
    EXPECT_EQ(Var.Width, Real ? 64 : 1) << Var.Name;
  }
  const auto Out3 = V.Of("out3");
  ASSERT_EQ(Out3.size(), 2u);
  EXPECT_EQ(Out3[0].Time, 1250);
  EXPECT_EQ(Out3[0].Value, 1.0);
  EXPECT_EQ(Out3[1].Time, 12000);
  EXPECT_EQ(Out3[1].Value, 0.0);
  ASSERT_EQ(V.Of("da0").size(), 1u);
  EXPECT_EQ(V.Of("da0")[0].Value, 7.5);
  ASSERT_EQ(V.Of("pwm_ratio").size(), 1u);
  EXPECT_EQ(V.Of("pwm_ratio")[0].Time, 12000);
  EXPECT_EQ(V.Of("pwm_ratio")[0].Value, 0.25);
  EXPECT_EQ(V.Of("pwm_freq")[0].Value, 5000.0);
  EXPECT_TRUE(V.Of("in9").empty()); // read, never changed
  EXPECT_EQ(V.Of("in4")[0].Time, 10000);
  EXPECT_NE(S.str().find("#20000\n"), std::string::npos); // the trace's end
}

TEST(CliVcd, ManySignalsGetDistinctIdentifiers) {
  std::vector<TIoEvent> Ev;
  for (int P = 0; P < 200; ++P) {
    Ev.push_back({1.0 + P, TIoKind::Output, P, 1, true});
  }
  std::ostringstream S;
  WriteVcd(S, Ev, {}, 0.0, 300.0);
  const auto V = testing::ReadVcd(S.str());
  ASSERT_EQ(V.Error, "");
  EXPECT_EQ(V.Vars.size(), 203u);
  EXPECT_EQ(V.Of("out199").at(0).Time, 200000);
}

} // namespace
} // namespace nclaser::cli
