// The shipped Raycus examples run with `nclaser run` against their simulators on a pty,
// and the QCW demo goes from fault to alarm and back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocols/raycus.h"
#include "sim/table.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string Read(const fs::path& P) {
  std::ifstream In(P);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

// Runs Command with its output in a temporary file: exit status and output.
std::pair<int, std::string> RunTool(const std::string& Command) {
  char Tmpl[] = "/tmp/nclaser-raycus-XXXXXX";
  EXPECT_NE(mkdtemp(Tmpl), nullptr);
  const fs::path Out = fs::path(Tmpl) / "out";
  const int Raw = std::system((Command + " </dev/null >" + Out.string() + " 2>&1").c_str());
  std::string Text = Read(Out);
  fs::remove_all(Tmpl);
  return {WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, std::move(Text)};
}

TEST(CliRaycus, ExamplesRunAgainstTheirSimulators) {
  const auto E9 = nclaser::raycus::BuildRequest(nclaser::raycus::cmdLaserOn);
  const auto F = nclaser::raycus::PulseParamsCmd(2000, 20, 50);
  const auto O = nclaser::raycus::EmissionOnCmd;
  struct TRow {
    const char* Example;
    const char* Sim;
    const char* Printed;
    std::vector<Bytes> Wire;
  };
  const TRow Rows[] = {
      {"raycus-qcw", "raycus-qcw", "GetDeviceDesc = RFL-QCW150", {Bytes(E9.begin(), E9.end())}},
      {"raycus",
       "raycus",
       "GetIsEmissionOn = true",
       {Bytes(F.begin(), F.end()), Bytes(O.begin(), O.end())}},
  };
  char Tmpl[] = "/tmp/nclaser-raycus-XXXXXX";
  ASSERT_NE(mkdtemp(Tmpl), nullptr);
  const fs::path Dir = Tmpl;
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.Example);
    auto Sim = nclaser::sim::StartSim(*nclaser::sim::FindSimFamily(R.Sim), false, "", {});
    std::string Text =
        Read(fs::path(NCLASER_SOURCE_DIR) / "examples" / (std::string(R.Example) + ".toml"));
    const auto At = Text.rfind("/dev/ttyUSB0"); // the port, not the comment
    ASSERT_NE(At, std::string::npos);
    Text.replace(At, 12, Sim->DevicePath());
    const fs::path Cfg = Dir / "cfg.toml";
    std::ofstream(Cfg) << Text;
    const auto [Status, Out] = RunTool(std::string(NCLASER_TOOL) + " run " + Cfg.string() +
                                       " -e 'wait 300; LaserOn; EmissionOn; wait 300; "
                                       "GetIsEmissionOn; GetDeviceDesc'");
    EXPECT_EQ(Status, 0) << Out;
    EXPECT_NE(Out.find(R.Printed), std::string::npos) << Out;
    const auto Seen = Sim->Requests();
    for (const auto& W : R.Wire) {
      EXPECT_TRUE(std::any_of(Seen.begin(), Seen.end(), [&](const auto& Q) {
        return Q.Bytes == W;
      })) << nclaser::sim::HexText(W);
    }
    Sim->Stop();
  }
  fs::remove_all(Dir);
}

TEST(CliRaycus, QCWDemoRaisesAndClearsTheModuleAlarm) {
  const auto [Status, Text] = RunTool(std::string(NCLASER_TOOL) + " demo raycus-qcw");
  EXPECT_EQ(Status, 0) << Text;
  const auto Alarm = Text.find("] alarm ");
  ASSERT_NE(Alarm, std::string::npos) << Text;
  EXPECT_NE(Text.find("Interlock state fault", Alarm), std::string::npos) << Text;
  EXPECT_NE(Text.find(" cleared", Alarm), std::string::npos) << Text;
}

} // namespace
