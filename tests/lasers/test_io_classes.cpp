#include <gtest/gtest.h>

#include "tests/lasers/io_laser_support.h"

namespace nclaser {
namespace {

struct TExpected {
  const char* Name;
  const char* Member;
  TEnumLaserType Type;
};

// Every I/O-driven class is in the table with its configuration member and is built and
// torn down by its factory from a default record without leaving anything behind.
class IoLaserClassesTest : public testing::HostTest {};

TEST_F(IoLaserClassesTest, RegisteredAndBuiltByTheirFactories) {
  const TExpected Classes[] = {
      {"TCO2Laser", "CfgCO2", eltCO2},          {"TYAGLaser", "DefParams", eltNone},
      {"TDefaultLaser", "CfgOther", CfgOther},  {"TMaxLaser", "DefParams", eltNone},
      {"TLPINGLaser", "DefParams", eltNone},    {"TOpticalValleyLaser", "DefParams", eltNone},
      {"TMeimanLaser", "CfgMeiMan", eltMeiMan}, {"TRofinLaser", "CfgRofin", eltRofin},
      {"TIPG1000Laser", "CfgIPG", eltIPG},      {"TIPGYLPLaser", "CfgIPG", eltIPG},
  };
  const size_t Handles = Host->Semaphores.OpenHandles();
  for (const auto& C : Classes) {
    SCOPED_TRACE(C.Name);
    const TLaserClassInfo* Info = FindLaserClass(C.Name);
    ASSERT_NE(Info, nullptr);
    EXPECT_EQ(Info->ConfigMember, C.Member);
    EXPECT_EQ(Info->LaserType, C.Type);
    TLaserParams P = testing::IoParams(C.Type);
    if (C.Type == eltIPG) {
      P.CfgIPG.Initialize();
    }
    auto L = Info->Factory(nullptr, P);
    ASSERT_NE(L, nullptr);
    L->EmissionOn();
    L->LaserOn();
    L.reset();
    EXPECT_EQ(Host->Semaphores.OpenHandles(), Handles);
  }
}

} // namespace
} // namespace nclaser
