// The shipped examples of the text-protocol lasers, run with `nclaser run` against their
// simulators on a pty: each builds its laser and its commands reach the simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/table.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& P) {
  std::ifstream In(P);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

TEST(CliText, ExamplesRunAgainstTheirSimulators) {
  struct Row {
    const char* Make;
    const char* Script;
    const char* Printed;
    std::vector<std::string> Wire;
  };
  const Row Rows[] = {
      {"mars",
       "EmissionOn; SetAimingOn true; wait 2000; GetIsEmissionOn",
       "GetIsEmissionOn = true",
       {"OUT=003200000000\r\n", "ENABLE=1FF\r\n", "PILOT_EN=1\r\n"}},
      {"nlight",
       "SetAimingOn true; wait 400; GetIsAimingOn",
       "GetIsAimingOn = true",
       {"get maxpower\r", "set aimingon 1\r"}},
      {"cas",
       "EmissionOn; wait 200; GetIsEmissionOn",
       "GetIsEmissionOn = true",
       {"EMIS:1\r", "SCUS:100\r"}},
      {"qinghua", "LaserOn; wait 400; GetIsLaserOn", "GetIsLaserOn = true", {"w60 1\r\n"}},
  };
  char Tmpl[] = "/tmp/nclaser-text-XXXXXX";
  ASSERT_NE(mkdtemp(Tmpl), nullptr);
  const fs::path Dir = Tmpl;
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.Make);
    auto Sim = nclaser::sim::StartSim(*nclaser::sim::FindSimFamily(R.Make), false, "", {});
    std::string Text =
        Read(fs::path(NCLASER_SOURCE_DIR) / "examples" / (std::string(R.Make) + ".toml"));
    const auto At = Text.find("/dev/ttyUSB0");
    ASSERT_NE(At, std::string::npos);
    Text.replace(At, 12, Sim->DevicePath());
    const fs::path Cfg = Dir / (std::string(R.Make) + ".toml");
    std::ofstream(Cfg) << Text;
    const std::string Cmd = std::string(NCLASER_TOOL) + " run " + Cfg.string() + " -e '" +
                            R.Script + "' </dev/null >" + (Dir / "out").string() + " 2>&1";
    const int Raw = std::system(Cmd.c_str());
    EXPECT_EQ(WIFEXITED(Raw) ? WEXITSTATUS(Raw) : -1, 0) << Read(Dir / "out");
    EXPECT_NE(Read(Dir / "out").find(R.Printed), std::string::npos) << Read(Dir / "out");
    std::vector<std::string> Seen;
    for (const auto& Q : Sim->Requests()) {
      Seen.emplace_back(Q.Bytes.begin(), Q.Bytes.end());
    }
    for (const auto& W : R.Wire) {
      EXPECT_NE(std::find(Seen.begin(), Seen.end(), W), Seen.end()) << W;
    }
    Sim->Stop();
  }
  fs::remove_all(Dir);
}

} // namespace
