// The tool's way of building a laser.
#include <gtest/gtest.h>

#include "apps/nclaser/config.h"
#include "apps/nclaser/session.h"
#include "tests/support/host_fixture.h"

namespace nclaser::cli {
namespace {

class CliBuild : public testing::HostTest {};

TEST_F(CliBuild, RegistersTheAlarmsRightAfterConstruction) {
  TConfig C;
  C.ClassName = "TCO2Laser";
  InitializeHostDefaults(C.Params, eltCO2);
  EXPECT_NE(BuildLaser(C)->GetAlarmID(), 0);
  C.ClassName = "TNoSuchLaser";
  EXPECT_THROW(BuildLaser(C), EBuildError);
}

} // namespace
} // namespace nclaser::cli
