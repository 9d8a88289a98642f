// The tool's class table against the factory's registrations, and its way of building.
#include <gtest/gtest.h>

#include "apps/nclaser/classes.h"
#include "apps/nclaser/config.h"
#include "apps/nclaser/session.h"
#include "tests/support/host_fixture.h"

namespace nclaser::cli {
namespace {

// The factory's registrations and the tool's table tell the same story; a class of neither
// is refused by name.
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
    EXPECT_EQ(ClassAvailability(Row.Name), "");
  }
}

class CliBuild : public testing::HostTest {};

TEST_F(CliBuild, RegistersTheAlarmsRightAfterConstruction) {
  TConfig C;
  C.ClassName = "TCO2Laser";
  InitializeDefaults(C.Params, eltCO2);
  EXPECT_NE(BuildLaser(C)->GetAlarmID(), 0);
}

} // namespace
} // namespace nclaser::cli
