// Configuration files: defaults first, then the file; every refusal names file, line and key.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "apps/nclaser/config.h"
#include "lasers/factory.h"

namespace nclaser::cli {
namespace {

struct TRefusal {
  int Line;
  std::string Key;
  std::string Reason;
};

TRefusal Refuse(const std::string& Text) {
  try {
    (void)LoadConfigText(Text, "t.toml");
  } catch (const EConfigError& E) {
    EXPECT_EQ(E.File(), "t.toml");
    const std::string What = E.what();
    EXPECT_NE(What.find("t.toml"), std::string::npos) << What;
    EXPECT_NE(What.find(E.Key()), std::string::npos) << What;
    return {E.Line(), E.Key(), E.Reason()};
  }
  ADD_FAILURE() << "accepted:\n" << Text;
  return {};
}

// What the record types set is their own tests' business; here: the loader starts from
// the defaults of the configured type's own records, then applies the file.
TEST(CliConfig, DefaultsComeFromTheRecordsBeforeTheFile) {
  const auto C = LoadConfigText("LaserType = \"eltIPG\"\n"
                                "[CfgIPG]\nIPGType = \"ltYLRNet\"\n"
                                "[CfgIPG.YLR.Net]\nTcpPort = 10001\n",
                                "t.toml");
  EXPECT_EQ(C.ClassName, "TIPG500Laser");
  EXPECT_FALSE(C.ClassFromFile);
  EXPECT_EQ(C.Params.LaserType, eltIPG);
  EXPECT_EQ(C.Params.DefParams.PWM.Frequency, 5000);
  EXPECT_DOUBLE_EQ(C.Params.DefParams.DA.MaxVoltage, 10.0);
  EXPECT_EQ(C.Params.CfgIPG.IPGType, ltYLRNet);
  EXPECT_EQ(C.Params.CfgIPG.YLR.Net.TcpPort, 10001);
  EXPECT_EQ(TextBufToUtf8(C.Params.CfgIPG.YLR.Net.TcpHost), "127.0.0.1");
  // Serial-only records start on port 1, zero-filled ones on none.
  EXPECT_EQ(LoadConfigText("LaserType = \"eltMars\"\n", "t.toml").Params.CfgMars.Comm.CommPort, 1);
  EXPECT_EQ(LoadConfigText("LaserType = \"eltSPI\"\n", "t.toml").Params.CfgSPI.Comm.CommPort, 0);
}

TEST(CliConfig, EveryKindOfValueIsRead) {
  const auto C = LoadConfigText("LaserType = \"eltGSI\"\n"
                                "[DefParams]\nModel = \"JK 300\"\nAimingLowActive = true\n"
                                "Power = 300\n" // an integer for a double
                                "[DefParams.PWM]\nRatio = 0.25\n"
                                "[CfgGSI]\nAddress = 255\n"
                                "[CfgGSI.Comm]\nCommSettings = \"19200,e,8,1\"\nCommPort = -3\n",
                                "t.toml");
  EXPECT_EQ(C.ClassName, "TJKLaser");
  EXPECT_EQ(C.Params.DefParams.Model, "JK 300");
  EXPECT_TRUE(C.Params.DefParams.AimingLowActive);
  EXPECT_DOUBLE_EQ(C.Params.DefParams.Power, 300.0);
  EXPECT_DOUBLE_EQ(C.Params.DefParams.PWM.Ratio, 0.25);
  EXPECT_EQ(C.Params.CfgGSI.Address, 255);
  EXPECT_EQ(C.Params.CfgGSI.Comm.CommPort, -3);
  EXPECT_EQ(TextBufToUtf8(C.Params.CfgGSI.Comm.CommSettings), "19200,e,8,1");
}

TEST(CliConfig, SpiModelIsALengthByteAndEightBitCharacters) {
  const auto C =
      LoadConfigText("LaserType = \"eltSPI\"\n[CfgSPI]\nModel = \"red\xC3\xA9\"\n", "t.toml");
  EXPECT_EQ(C.Params.CfgSPI.Model[0], 4);
  EXPECT_EQ(C.Params.CfgSPI.Model[1], 'r');
  EXPECT_EQ(C.Params.CfgSPI.Model[4], 0xE9);
  EXPECT_EQ(
      Refuse("LaserType = \"eltSPI\"\n[CfgSPI]\nModel = \"" + std::string(44, 'x') + "\"\n").Key,
      "CfgSPI.Model");
}

// A class implies its laser type (another one is refused, see the refusals); classes that
// read only DefParams accept any.
TEST(CliConfig, ClassImpliesLaserTypeUnlessItReadsOnlyDefParams) {
  const auto C = LoadConfigText("Class = \"TRofinLaser\"\n[CfgRofin]\nError = 11\n", "t.toml");
  EXPECT_EQ(C.Params.LaserType, eltRofin);
  EXPECT_EQ(C.Params.CfgRofin.Error, 11);
  EXPECT_TRUE(C.ClassFromFile);
  EXPECT_EQ(LoadConfigText("Class = \"TYAGLaser\"\n", "t.toml").Params.LaserType, eltNone);
  const auto M = LoadConfigText("Class = \"TMaxLaser\"\nLaserType = \"eltCO2\"\n"
                                "[CfgCO2]\nShutterPort = 4\n",
                                "t.toml");
  EXPECT_EQ(M.ClassName, "TMaxLaser");
  EXPECT_EQ(M.Params.CfgCO2.ShutterPort, 4);
  EXPECT_EQ(LoadConfigText("Class = \"TLPINGLaser\"\nLaserType = \"eltNone\"\n", "t.toml")
                .Params.LaserType,
            eltNone);
}

TEST(CliConfig, RefusalsNameLineKeyAndReason) {
  struct TCase {
    std::string Text;
    int Line;
    std::string Key;
    std::string ReasonPart;
  };
  const std::string Co2 = "LaserType = \"eltCO2\"\n";
  const TCase Cases[] = {
      {Co2 + "Colour = 3\n", 2, "Colour", "unknown key"},
      {Co2 + "[DefParams]\nCtrlPrt = 3\n", 3, "DefParams.CtrlPrt", "unknown key"},
      {Co2 + "[DefParams.PWM]\nFrequency = \"fast\"\n", 3, "DefParams.PWM.Frequency", "integer"},
      {Co2 + "[DefParams.PWM]\nFrequency = 5000.5\n", 3, "DefParams.PWM.Frequency", "integer"},
      {Co2 + "[DefParams.PWM]\nFrequency = 2147483648\n", 3, "DefParams.PWM.Frequency",
       "out of range"},
      {Co2 + "[DefParams]\nAimingLowActive = 1\n", 3, "DefParams.AimingLowActive", "boolean"},
      {Co2 + "[DefParams.DA]\nMaxVoltage = \"10\"\n", 3, "DefParams.DA.MaxVoltage", "number"},
      {Co2 + "[DefParams.PWM]\nDiodeCurrent = nan\n", 3, "DefParams.PWM.DiodeCurrent", "finite"},
      {Co2 + "[DefParams.PWM]\nDiodeCurrent = inf\n", 3, "DefParams.PWM.DiodeCurrent", "inf"},
      {Co2 + "[DefParams.DA]\nMaxVoltage = -inf\n", 3, "DefParams.DA.MaxVoltage", "-inf"},
      {Co2 + "[DefParams]\nModel = 5\n", 3, "DefParams.Model", "string"},
      {Co2 + "[DefParams]\nPWM = 5\n", 3, "DefParams.PWM", "table"},
      {Co2 + "[CfgIPG]\nIPGType = \"ltYLRNet\"\n", 2, "CfgIPG", "does not belong"},
      {"LaserType = \"eltGSI\"\n[CfgGSI]\nAddress = 256\n", 3, "CfgGSI.Address", "byte"},
      {"LaserType = \"eltGSI\"\n[CfgGSI]\nAddress = -1\n", 3, "CfgGSI.Address", "byte"},
      {"LaserType = \"eltIPG\"\n[CfgIPG]\nIPGType = \"ltYLX\"\n", 3, "CfgIPG.IPGType",
       "unknown value"},
      {"LaserType = \"eltIPG\"\n[CfgIPG]\nIPGType = 2\n", 3, "CfgIPG.IPGType", "string"},
      {"LaserType = \"eltLaser\"\n", 1, "LaserType", "unknown value"},
      {"LaserType = \"eltRay\"\n[CfgRay]\nPulseModel = \"" + std::string(256, 'Q') + "\"\n", 3,
       "CfgRay.PulseModel", "255"},
      {"Class = \"TFooLaser\"\n", 1, "Class", "unknown laser class"},
      {"Class = \"TRofinLaser\"\n\nLaserType = \"eltCO2\"\n", 3, "LaserType", "CfgRofin"},
      {Co2 + "[Host]\nPwmPort = \"yes\"\n", 3, "Host.PwmPort", "boolean"},
      {Co2 + "[Host]\nOutputs = [1, 256]\n", 3, "Host.Outputs", "out of range"},
      {Co2 + "[Host]\nPorts = 1\n", 3, "Host.Ports", "unknown key"},
      {Co2 + "[Host]\nPingProbePort = 70000\n", 3, "Host.PingProbePort", "TCP port"},
      {Co2 + "[Host]\nRealTime = \"fast\"\n", 3, "Host.RealTime", "\"auto\", \"off\""},
      {Co2 + "[Host]\nRealTime = 0\n", 3, "Host.RealTime", "out of range (1 to 99)"},
      {Co2 + "[Host]\nRealTime = 100\n", 3, "Host.RealTime", "out of range"},
      {Co2 + "[Host]\nRealTime = true\n", 3, "Host.RealTime", "got a boolean"},
      {Co2 + "[Host]\nLockMemory = 1\n", 3, "Host.LockMemory", "boolean"},
      {Co2 + "[Host.SerialPorts]\ncom1 = \"/dev/ttyS0\"\n", 3, "Host.SerialPorts.com1",
       "serial port number"},
      {"LaserType = \"eltDA\"\n", 1, "LaserType", "no laser class"},
      {"LaserType = \"eltIPG\"\n", 1, "CfgIPG.IPGType", "selects no class"},
      {"[DefParams]\nCtrlPort = 1\n", 0, "LaserType", "missing"},
      {Co2 + "[DefParams\n", 2, "", ""}, // a syntax error names no key
      // The first problem in file order is the one reported.
      {Co2 + "[DefParams]\nZeta = 1\nAlpha = 2\n[CfgCO2]\nShutterPort = true\n", 3,
       "DefParams.Zeta", "unknown key"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    const auto R = Refuse(C.Text);
    EXPECT_EQ(R.Key, C.Key);
    EXPECT_EQ(R.Line, C.Line);
    EXPECT_NE(R.Reason.find(C.ReasonPart), std::string::npos) << R.Reason;
  }
}

TEST(CliConfig, HostSection) {
  const auto C =
      LoadConfigText("LaserType = \"eltCO2\"\n[Host]\nPwmPort = false\nPingProbePort = 23\n"
                     "Outputs = [1, 2, 3]\nInputs = []\n"
                     "[Host.SerialPorts]\n1 = \"/dev/ttyUSB0\"\n7 = \"/dev/pts/4\"\n",
                     "t.toml");
  EXPECT_FALSE(C.Host.PwmPort);
  EXPECT_EQ(C.Host.PingProbePort, 23);
  ASSERT_TRUE(C.Host.Outputs.has_value());
  EXPECT_EQ(*C.Host.Outputs, (std::vector<int>{1, 2, 3}));
  ASSERT_TRUE(C.Host.Inputs.has_value());
  EXPECT_TRUE(C.Host.Inputs->empty());
  EXPECT_EQ(C.Host.SerialPorts.at(1), "/dev/ttyUSB0");
  EXPECT_EQ(C.Host.SerialPorts.at(7), "/dev/pts/4");
  EXPECT_FALSE(LoadConfigText("LaserType = \"eltCO2\"\n", "t.toml").Host.Outputs.has_value());
}

TEST(CliConfig, RealTimeIsAutoUnlessTheFileSaysOtherwise) {
  using hostkit::TRealTimeMode;
  struct TCase {
    std::string Host;
    TRealTimeMode Mode;
    int Priority;
    bool Lock;
    bool Given;
  };
  const TCase Cases[] = {
      {"", TRealTimeMode::Auto, 0, false, false},
      {"RealTime = \"auto\"\n", TRealTimeMode::Auto, 0, false, true},
      {"RealTime = \"off\"\nLockMemory = true\n", TRealTimeMode::Off, 0, true, true},
      {"RealTime = 35\n", TRealTimeMode::Fixed, 35, false, true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Host);
    const auto H = LoadConfigText("LaserType = \"eltCO2\"\n[Host]\n" + C.Host, "t.toml").Host;
    EXPECT_EQ(H.RealTime.Mode, C.Mode);
    EXPECT_EQ(H.RealTime.Priority, C.Priority);
    EXPECT_EQ(H.RealTime.LockMemory, C.Lock);
    EXPECT_EQ(H.RealTimeGiven, C.Given);
  }
}

TEST(CliConfig, EveryClassHasAnExampleThatLoads) {
  const std::filesystem::path Dir = std::filesystem::path(NCLASER_SOURCE_DIR) / "examples";
  std::set<std::string> Covered;
  for (const auto& E : std::filesystem::directory_iterator(Dir)) {
    if (E.path().extension() != ".toml") {
      continue;
    }
    SCOPED_TRACE(E.path().string());
    try {
      const auto C = LoadConfigFile(E.path().string());
      EXPECT_TRUE(C.ClassFromFile);
      Covered.insert(C.ClassName);
    } catch (const EConfigError& Err) {
      ADD_FAILURE() << Err.what();
    }
  }
  for (const auto& C : LaserClasses()) {
    EXPECT_EQ(Covered.count(C.Name), 1u) << "no example for " << C.Name;
  }
}

} // namespace
} // namespace nclaser::cli
