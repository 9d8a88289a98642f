// The tool's class table against the factory: default classes, and every registered class
// built on the virtual host.
#include <gtest/gtest.h>

#include "apps/nclaser/classes.h"
#include "apps/nclaser/config.h"
#include "apps/nclaser/session.h"
#include "tests/support/host_fixture.h"

namespace nclaser::cli {
namespace {

std::string DefaultFor(TEnumLaserType T, TIPGLaserType Ipg = ltIPGErr, TRayLaserType Ray = ltRayErr,
                       const char* Pulse = "") {
  TLaserParams P;
  InitializeDefaults(P, T);
  if (T == eltIPG) {
    P.CfgIPG.IPGType = Ipg;
  }
  if (T == eltRay) {
    P.CfgRay.RayType = Ray;
    EXPECT_TRUE(Utf8ToTextBuf(Pulse, P.CfgRay.PulseModel));
  }
  return DefaultClass(P).value_or("(none)");
}

TEST(CliClasses, DefaultClassPerLaserTypeAndSubType) {
  EXPECT_EQ(DefaultFor(eltCO2), "TCO2Laser");
  EXPECT_EQ(DefaultFor(eltIPG, ltYLRComm), "TIPG500Laser");
  EXPECT_EQ(DefaultFor(eltIPG, ltYLRNet), "TIPG500Laser");
  EXPECT_EQ(DefaultFor(eltIPG, ltYLSGemHW), "TIPG1000Laser");
  EXPECT_EQ(DefaultFor(eltIPG, ltYLSAmHW), "TIPG1000Laser");
  EXPECT_EQ(DefaultFor(eltIPG, ltYLSGemNet), "TIPGYLSLaser");
  EXPECT_EQ(DefaultFor(eltIPG, ltYLSAmNet), "TIPGYLSLaser");
  EXPECT_EQ(DefaultFor(eltIPG, ltYLP), "TIPGYLPLaser");
  EXPECT_EQ(DefaultFor(eltIPG, ltIPGErr), "(none)");
  // The Raycus classes leave the choice to the host: RayType alone decides.
  EXPECT_EQ(DefaultFor(eltRay, ltIPGErr, ltRayCW, "QCW"), "TRaycusLaser");
  EXPECT_EQ(DefaultFor(eltRay, ltIPGErr, ltRayWCW, ""), "TRayQCWLaser");
  EXPECT_EQ(DefaultFor(eltRay, ltIPGErr, ltRayErr, "QCW"), "(none)");
  EXPECT_EQ(DefaultFor(eltGSI), "TJKLaser");
  EXPECT_EQ(DefaultFor(eltMeiMan), "TMeimanLaser");
  EXPECT_EQ(DefaultFor(eltSPI), "TSPILaser");
  EXPECT_EQ(DefaultFor(eltRofin), "TRofinLaser");
  EXPECT_EQ(DefaultFor(eltCAS), "TCASLaser");
  EXPECT_EQ(DefaultFor(eltMars), "TMarsLaser");
  EXPECT_EQ(DefaultFor(eltQingHua), "TQingHuaLaser");
  EXPECT_EQ(DefaultFor(CfgNLight), "TNLightLaser");
  EXPECT_EQ(DefaultFor(CfgOther), "TDefaultLaser");
  for (const auto T : {eltNone, eltDA, eltMaxSZ, eltQYZ}) {
    std::string Why;
    TLaserParams P;
    InitializeDefaults(P, T);
    EXPECT_FALSE(DefaultClass(P, &Why).has_value()) << LaserTypeName(T);
    EXPECT_NE(Why.find(std::string(LaserTypeName(T))), std::string::npos) << Why;
  }
}

// A configuration each class accepts on the virtual host, without opening a real link
// (serial port 0, TCP to a closed loopback port).
TConfig ConfigFor(const TClassRow& Row) {
  TConfig C;
  C.File = "(test)";
  C.ClassName = Row.Name;
  InitializeDefaults(C.Params, Row.LaserType);
  C.Params.DefParams.Model = "Test";
  C.Params.DefParams.CtrlPort = 3;
  const std::string N = Row.Name;
  auto& P = C.Params;
  switch (Row.LaserType) {
  case eltIPG:
    P.CfgIPG.IPGType = N == "TIPG500Laser"    ? ltYLRComm
                       : N == "TIPG1000Laser" ? ltYLSGemHW
                       : N == "TIPGYLSLaser"  ? ltYLSGemNet
                                              : ltYLP;
    P.CfgIPG.YLR.Comm.CommPort = 0;
    EXPECT_TRUE(
        Utf8ToTextBuf("Test", P.CfgIPG.Model)); // some IPG classes describe themselves by it
    EXPECT_TRUE(Utf8ToTextBuf("127.0.0.254", P.CfgIPG.YLS.Net.TcpHost));
    P.CfgIPG.YLS.Net.TcpPort = 9; // nothing listens there
    break;
  case eltRay:
    P.CfgRay.Comm.CommPort = 0;
    if (N == "TRayQCWLaser") {
      EXPECT_TRUE(Utf8ToTextBuf("QCW", P.CfgRay.PulseModel));
    }
    break;
  case eltCAS:
  case eltMars:
  case eltQingHua:
  case CfgNLight:
    P.CfgCAS.Comm.CommPort = 0; // the four share TLaserCommParam
    break;
  default:
    break;
  }
  return C;
}

class CliFactoryWalk : public testing::HostTest {};

TEST_F(CliFactoryWalk, BuildsEveryRegisteredClassAndTearsItDown) {
  const auto Registered = LaserClasses();
  for (const auto& Info : Registered) {
    SCOPED_TRACE(Info.Name);
    const TClassRow* Row = FindClassRow(Info.Name);
    ASSERT_NE(Row, nullptr);
    const TConfig C = ConfigFor(*Row);
    TNcLaserPtr L;
    try {
      L = BuildLaser(C);
    } catch (const EBuildError& E) {
      ADD_FAILURE() << E.what();
      continue;
    }
    ASSERT_TRUE(L);
    EXPECT_NE(L->GetAlarmID(), 0);     // RegisterAlarms ran right after construction
    if (Info.Name != "TRayQCWLaser") { // describes itself by the model its laser reports
      EXPECT_NE(L->GetDeviceDesc().find("Test"), std::string::npos) << L->GetDeviceDesc();
    }
    L->UpdateAlarms();
    L.reset();
    EXPECT_EQ(Host->Alarms.Count(), 0u);
  }
}

// The factory's registrations and the tool's table tell the same story; a class of the
// table that no family registered is refused by name.
TEST(CliClasses, TheToolTableMatchesTheRegistrations) {
  EXPECT_EQ(ClassAvailability("TNoSuchLaser").rfind("unknown laser class TNoSuchLaser", 0), 0u);
  for (const auto& Info : LaserClasses()) {
    SCOPED_TRACE(Info.Name);
    const TClassRow* Row = FindClassRow(Info.Name);
    ASSERT_NE(Row, nullptr);
    EXPECT_EQ(Info.ConfigMember, Row->Reads);
    EXPECT_EQ(Info.LaserType, Row->LaserType);
  }
  for (const auto& Row : ClassTable()) {
    SCOPED_TRACE(Row.Name);
    const std::string Why = ClassAvailability(Row.Name);
    if (FindLaserClass(Row.Name) != nullptr) {
      EXPECT_EQ(Why, "");
      continue;
    }
    EXPECT_EQ(Why, std::string("class ") + Row.Name + " is not available in this build");
    try {
      (void)BuildLaser(ConfigFor(Row));
      ADD_FAILURE() << "built";
    } catch (const EBuildError& E) {
      EXPECT_EQ(E.what(), Why);
    }
  }
}

} // namespace
} // namespace nclaser::cli
