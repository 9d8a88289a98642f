// The shipped examples of the lasers with a simulator, run with `nclaser run` against it
// (on a pty, or on a loopback address of this process for the network lasers): each builds
// its laser and its commands reach the simulator.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocols/raycus.h"
#include "sim/table.h"

namespace {

namespace fs = std::filesystem;
namespace raycus = nclaser::raycus;

template <class B> std::string Text(const B& Bytes) {
  return {Bytes.begin(), Bytes.end()};
}

std::string Read(const fs::path& P) {
  std::ifstream In(P);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

TEST(CliExamples, RunAgainstTheirSimulators) {
  struct Row {
    const char* Example;
    const char* Rig; // in the simulator table
    const char* Script;
    const char* Printed;
    std::vector<std::string> Wire;
  };
  const Row Rows[] = {
      {"mars",
       "mars",
       "EmissionOn; SetAimingOn true; wait 2000; GetIsEmissionOn",
       "GetIsEmissionOn = true",
       {"OUT=003200000000\r\n", "ENABLE=1FF\r\n", "PILOT_EN=1\r\n"}},
      {"nlight",
       "nlight",
       "SetAimingOn true; wait 400; GetIsAimingOn",
       "GetIsAimingOn = true",
       {"get maxpower\r", "set aimingon 1\r"}},
      {"cas",
       "cas",
       "EmissionOn; wait 200; GetIsEmissionOn",
       "GetIsEmissionOn = true",
       {"EMIS:1\r", "SCUS:100\r"}},
      {"qinghua",
       "qinghua",
       "LaserOn; wait 400; GetIsLaserOn",
       "GetIsLaserOn = true",
       {"w60 1\r\n"}},
      {"ipg-yls-net",
       "yls",
       "EmissionOn; wait 300; GetIsEmissionOn; GetDeviceDesc",
       "GetDeviceDesc = IPG-YLS  SN: YLS-SIM-0042",
       {}},
      {"jk", "jk", "EmissionOn; wait 1500; GetIsEmissionOn", "GetIsEmissionOn = true", {}},
      {"raycus-qcw",
       "raycus-qcw",
       "wait 300; LaserOn; GetDeviceDesc",
       "GetDeviceDesc = RFL-QCW150",
       {Text(raycus::BuildRequest(raycus::cmdLaserOn))}},
      {"raycus",
       "raycus",
       "wait 300; LaserOn; EmissionOn; wait 300; GetIsEmissionOn",
       "GetIsEmissionOn = true",
       {Text(raycus::PulseParamsCmd(2000, 20, 50)), Text(raycus::EmissionOnCmd)}},
  };
  char Tmpl[] = "/tmp/nclaser-text-XXXXXX";
  ASSERT_NE(mkdtemp(Tmpl), nullptr);
  const fs::path Dir = Tmpl;
  for (const auto& R : Rows) {
    SCOPED_TRACE(R.Rig);
    const auto& Rig = *nclaser::sim::FindRig(R.Rig);
    const bool Tcp = !nclaser::sim::RigFamily(Rig).Pty;
    const std::string Address = nclaser::sim::LoopbackAddress(48);
    auto Sim = nclaser::sim::StartRig(Rig, Tcp, Tcp ? Address : "");
    std::string Text =
        Read(fs::path(NCLASER_SOURCE_DIR) / "examples" / (std::string(R.Example) + ".toml"));
    const std::string Where = Tcp ? "\"127.0.0.1\"" : "\"/dev/ttyUSB0\"";
    const auto At = Text.find(Where);
    ASSERT_NE(At, std::string::npos);
    Text.replace(At, Where.size(), "\"" + (Tcp ? Address : Sim->DevicePath()) + "\"");
    const fs::path Cfg = Dir / (std::string(R.Example) + ".toml");
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
