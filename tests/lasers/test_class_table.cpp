// The class registrations walked as a host walks them: which class every record selects,
// and every class built through its factory for every sub-type of its LaserType.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "host/io.h"
#include "hostkit/config.h"
#include "lasers/factory.h"
#include "params/schema.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

class ClassTable : public testing::HostTest {
protected:
  // The host's PWM frequency command takes the nearest integer, halves to even, on every
  // class (Meiman carries it as a thousandth of a volt per hertz); a diode current that goes
  // to the analog output is scaled, never rounded, and held to the maximum voltage.
  void ExpectSetPointRules(const std::string& Class, TNcLaser& L, const TLaserParams& P) {
    for (const auto& [Param, Want] :
         {std::pair{2500.5, 2500.0}, {2501.5, 2502.0}, {2500.7, 2501.0}}) {
      L.ExecuteCmd(14, Param);
      EXPECT_NEAR(Class == "TMeimanLaser" ? Host->IO.GetDA(P.CfgMeiMan.FreqDAPort) * 1000.0
                                          : GLaserPwmPort->GetFrequency(1),
                  Want, 1e-9)
          << Param;
    }
    // Those with no analog path: another set point, the I/O bits or the YLR driver.
    if (Class != "TCO2Laser" && Class != "TYAGLaser" && Class != "TMeimanLaser" &&
        Class != "TIPGYLPLaser" && Class != "TIPG500Laser") {
      for (const auto& [Percent, Volts] : {std::pair{50.5, 4.04}, {62.7, 5.016}, {120.0, 8.0}}) {
        L.ExecuteCmd(21, Percent);
        EXPECT_NEAR(Host->IO.GetDA(2), Volts, 1e-9) << Percent;
      }
    }
  }
};

// The host's defaults for Type with the given sub-type, and no link that could open: serial
// port 0, TCP to a loopback address nothing listens on.
TLaserParams Record(TEnumLaserType Type, unsigned SubType) {
  TLaserParams P;
  InitializeHostDefaults(P, Type);
  P.DefParams.Model = "Test";
  if (const TMemberInfo* M = MemberOf(Type); M != nullptr && M->SubType != nullptr) {
    *static_cast<std::uint8_t*>(M->SubType->Get(M->Get(P))) = static_cast<std::uint8_t>(SubType);
  }
  if (Type == eltIPG) {
    P.CfgIPG.YLR.Comm.CommPort = 0;
    EXPECT_TRUE(Utf8ToTextBuf("127.0.0.254", P.CfgIPG.YLR.Net.TcpHost));
    EXPECT_TRUE(Utf8ToTextBuf("127.0.0.254", P.CfgIPG.YLS.Net.TcpHost));
    P.CfgIPG.YLS.Net.TcpPort = 9;
  } else if (Type == eltRay) {
    P.CfgRay.Comm.CommPort = 0;
  } else if (const TMemberInfo* M = MemberOf(Type);
             M != nullptr && M->Record->Type == "TLaserCommParam") {
    P.CfgCAS.Comm.CommPort = 0; // the serial-only members share TLaserCommParam
  }
  return P;
}

// Every LaserType and sub-type: the class it selects, or the key and reason of none.
TEST_F(ClassTable, EveryRecordSelectsItsDefaultClass) {
  struct TRow {
    TEnumLaserType Type;
    unsigned Sub;      // IPGType or RayType
    const char* Class; // nullptr: none, and Why says what is missing
    const char* Why;
  };
  const TRow Rows[] = {
      {eltCO2, 0, "TCO2Laser", ""},
      {eltIPG, ltYLRComm, "TIPG500Laser", ""},
      {eltIPG, ltYLRNet, "TIPG500Laser", ""},
      {eltIPG, ltYLSGemHW, "TIPG1000Laser", ""},
      {eltIPG, ltYLSAmHW, "TIPG1000Laser", ""},
      {eltIPG, ltYLSGemNet, "TIPGYLSLaser", ""},
      {eltIPG, ltYLSAmNet, "TIPGYLSLaser", ""},
      {eltIPG, ltYLP, "TIPGYLPLaser", ""},
      {eltIPG, ltIPGErr, nullptr,
       "CfgIPG.IPGType ltIPGErr selects no class; set CfgIPG.IPGType or Class"},
      {eltRay, ltRayCW, "TRaycusLaser", ""},
      {eltRay, ltRayWCW, "TRayQCWLaser", ""},
      {eltRay, ltRayErr, nullptr,
       "CfgRay.RayType ltRayErr selects no class; set CfgRay.RayType or Class"},
      {eltGSI, 0, "TJKLaser", ""},
      {eltMeiMan, 0, "TMeimanLaser", ""},
      {eltSPI, 0, "TSPILaser", ""},
      {eltRofin, 0, "TRofinLaser", ""},
      {eltCAS, 0, "TCASLaser", ""},
      {eltMars, 0, "TMarsLaser", ""},
      {eltQingHua, 0, "TQingHuaLaser", ""},
      {CfgNLight, 0, "TNLightLaser", ""},
      {CfgOther, 0, "TDefaultLaser", ""},
      {eltNone, 0, nullptr, "LaserType eltNone has no laser class of its own; name one with Class"},
      {eltDA, 0, nullptr, "LaserType eltDA has no laser class of its own; name one with Class"},
      {eltMaxSZ, 0, nullptr, "LaserType eltMaxSZ has no"},
      {eltQYZ, 0, nullptr, "LaserType eltQYZ has no"},
  };
  for (const auto& R : Rows) {
    SCOPED_TRACE(std::string(LaserTypeName(R.Type)) + "/" + std::to_string(R.Sub));
    const TLaserParams P = Record(R.Type, R.Sub);
    std::string Why;
    const auto Name = hostkit::DefaultClass(P, &Why);
    EXPECT_EQ(Name.value_or("(none)"), R.Class != nullptr ? R.Class : "(none)");
    if (R.Class == nullptr) {
      EXPECT_EQ(Why.rfind(R.Why, 0), 0U) << Why;
    }
  }
}

// Where a class is the default it builds through its factory; for the other sub-types of
// its LaserType it builds as well, or refuses with its own text.
TEST_F(ClassTable, EveryClassBuildsForItsSubTypesOrRefusesWithItsText) {
  const std::map<std::string, std::string> Refusals = {
      {"TIPG500Laser", "IPG.LaserType Error Message"},
      {"TIPGYLSLaser", "CfgIPG.IPGType Error Message"}};
  ASSERT_EQ(LaserClasses().size(), 21U);
  for (const auto& C : LaserClasses()) {
    const TMemberInfo* M = MemberOf(C.LaserType);
    const unsigned Subs =
        M != nullptr && M->SubType != nullptr ? M->SubType->Enum->Names.size() : 1;
    for (unsigned S = 0; S < Subs; ++S) {
      SCOPED_TRACE(C.Name + " sub-type " + std::to_string(S));
      TLaserParams P = Record(C.LaserType, S);
      P.DefParams.DA.DAPort = 2;
      P.DefParams.DA.MaxVoltage = 8.0;
      const bool Default = (C.DefaultFor & SubTypeOf(P)) != 0;
      const TLaserClassInfo* D = DefaultLaserClass(P);
      EXPECT_EQ(D != nullptr && D->Name == C.Name, Default);
      try {
        auto L = C.Factory(nullptr, P);
        L->RegisterAlarms();
        EXPECT_NE(L->GetAlarmID(), 0);
        if (Default || Subs == 1) {
          ExpectSetPointRules(C.Name, *L, P);
        }
      } catch (const std::exception& E) {
        EXPECT_FALSE(Default) << E.what();
        EXPECT_EQ(E.what(), Refusals.count(C.Name) != 0 ? Refusals.at(C.Name) : "(builds)");
      }
      EXPECT_EQ(Host->Alarms.Count(), 0U);
    }
  }
}

} // namespace
} // namespace nclaser
