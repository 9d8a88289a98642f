// Script text, argument checking and the getters' output lines.
#include <gtest/gtest.h>

#include <vector>

#include "apps/nclaser/script.h"
#include "lasers/factory.h"
#include "tests/support/host_fixture.h"

namespace nclaser::cli {
namespace {

TEST(CliScript, SplitsOnLinesAndSemicolonsAndDropsComments) {
  const auto Ops = SplitScript("LaserOn; SetPwmFreq 5000\n\n# a comment; still a comment\n"
                               "  wait\t100 ;;ExecuteCmd 21 60.5 # trailing\r\n");
  ASSERT_EQ(Ops.size(), 4u);
  EXPECT_EQ(Ops[0].Words, (std::vector<std::string>{"LaserOn"}));
  EXPECT_EQ(Ops[0].Line, 1);
  EXPECT_EQ(Ops[1].Words, (std::vector<std::string>{"SetPwmFreq", "5000"}));
  EXPECT_EQ(Ops[2].Words, (std::vector<std::string>{"wait", "100"}));
  EXPECT_EQ(Ops[2].Line, 4);
  EXPECT_EQ(Ops[3].Words, (std::vector<std::string>{"ExecuteCmd", "21", "60.5"}));
  EXPECT_EQ(Ops[3].Line, 4);
  EXPECT_TRUE(SplitScript(" ;\n# only\n").empty());
}

TEST(CliScript, NumbersInShortestRoundTripFormWithAPoint) {
  EXPECT_EQ(FormatNumber(0.0), "0.0");
  EXPECT_EQ(FormatNumber(-2.0), "-2.0");
  EXPECT_EQ(FormatNumber(0.1), "0.1");
  EXPECT_EQ(FormatNumber(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(std::stod(FormatNumber(1e300)), 1e300);
}

// A laser that records what it was asked, so the runner is checked apart from any family.
class TProbeLaser : public TNcLaser {
public:
  bool GetIsLaserOn() override { return FOn; }
  void LaserOn() override {
    Calls.push_back("LaserOn");
    FOn = true;
  }
  void LaserOff() override {
    Calls.push_back("LaserOff");
    FOn = false;
  }
  void SetDiodeCurrent(double V) override {
    Calls.push_back("SetDiodeCurrent " + FormatNumber(V));
    FCurrent = V;
  }
  double GetDiodeCurrent() override { return FCurrent; }
  void EmissionOn() override { Calls.push_back("EmissionOn"); }
  void EmissionOff() override { Calls.push_back("EmissionOff"); }
  void SetAimingOn(bool On) override { Calls.push_back(On ? "Aim on" : "Aim off"); }
  void SetLaserMode(int M) override { Calls.push_back("Mode " + std::to_string(M)); }
  std::vector<std::string> Calls;

private:
  bool FOn = false;
  double FCurrent = 12.5;
};

class CliRunner : public testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    TLaserParams P;
    InitializeHostDefaults(P, eltNone);
    P.DefParams.Model = "Probe";
    Laser = NewLaser<TProbeLaser>(nullptr, P);
    Probe = static_cast<TProbeLaser*>(Laser.get());
    Runner = std::make_unique<TScriptRunner>(*Laser, *Host,
                                             [this](const std::string& L) { Out.push_back(L); });
  }
  void TearDown() override {
    Runner.reset();
    Laser.reset();
    HostTest::TearDown();
  }
  void Run(const std::string& Text) {
    for (const auto& Op : SplitScript(Text)) {
      Runner->Run(Op);
    }
  }
  TNcLaserPtr Laser;
  TProbeLaser* Probe = nullptr;
  std::unique_ptr<TScriptRunner> Runner;
  std::vector<std::string> Out;
};

TEST_F(CliRunner, GettersPrintNameEqualsValue) {
  Run("GetIsLaserOn; LaserOn; GetIsLaserOn; GetDiodeCurrent; SetDiodeCurrent 60; "
      "GetDiodeCurrent; GetDeviceDesc; GetLaserMode; SetPwmFreq 2500; GetPwmFreq; "
      "SetPwmRatio 0.25; GetPwmRatio; GetIsBusy; ExecuteCmd 2102; ExecuteCmd 21 70; EmissionOn; "
      "EmissionOff; LaserOff");
  EXPECT_EQ(Out, (std::vector<std::string>{
                     "GetIsLaserOn = false", "GetIsLaserOn = true", "GetDiodeCurrent = 12.5",
                     "GetDiodeCurrent = 60.0", "GetDeviceDesc = Probe", "GetLaserMode = 0",
                     "GetPwmFreq = 2500", "GetPwmRatio = 0.25", "GetIsBusy = false",
                     "ExecuteCmd = 100", "ExecuteCmd = 0"}));
  EXPECT_EQ(Probe->Calls,
            (std::vector<std::string>{"LaserOn", "SetDiodeCurrent 60.0", "SetDiodeCurrent 70.0",
                                      "EmissionOn", "EmissionOff", "LaserOff"}));
}

TEST_F(CliRunner, HostActions) {
  Run("SetInput 7 1");
  EXPECT_TRUE(Host->IO.GetInput(7));
  Run("SetInput 7 false");
  EXPECT_FALSE(Host->IO.GetInput(7));
  Laser->RegisterAlarms();
  Laser->SetAlarmStatus(true);
  Run("alarms");
  ASSERT_EQ(Out.size(), 1u);
  EXPECT_EQ(Out[0], "alarm " + std::to_string(Laser->GetAlarmID()) + ": " + Laser->GetAlarmDesc());
}

TEST_F(CliRunner, BadOperationsAreRefusedBeforeTheLaserIsTouched) {
  const char* Bad[] = {"Laseron",           "LaserOn 1",           "SetDiodeCurrent",
                       "SetDiodeCurrent x", "SetDiodeCurrent nan", "SetPwmFreq 50.5",
                       "SetAimingOn 1",     "SetAimingOn yes",     "SetLaserMode 99999999999",
                       "SetInput 300 1",    "SetInput 3 2",        "wait -1",
                       "ExecuteCmd",        "ExecuteCmd 1 2 3",    "GetIsLaserOn now"};
  for (const char* B : Bad) {
    SCOPED_TRACE(B);
    EXPECT_THROW(Run(B), EScriptError);
  }
  EXPECT_TRUE(Probe->Calls.empty());
  EXPECT_TRUE(Out.empty());
  try {
    Run("\n\nSetPwmRatio half");
    ADD_FAILURE() << "accepted";
  } catch (const EScriptError& E) {
    EXPECT_STREQ(E.what(),
                 "line 3: SetPwmRatio: bad argument \"half\" (expected a decimal number)");
  }
  Run("SetAimingOn true; SetLaserMode -2");
  EXPECT_EQ(Probe->Calls, (std::vector<std::string>{"Aim on", "Mode -2"}));
}

} // namespace
} // namespace nclaser::cli
