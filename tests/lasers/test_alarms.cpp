#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "lasers/factory.h"
#include "lasers/fiber.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

// A laser whose fault and text the test sets.
class TFaultyLaser : public TFiberLaser {
public:
  std::atomic<bool> Fault{false};
  std::string Text = "fault A";
  std::atomic<int> DescCalls{0};
  void UpdateAlarms() override {
    TFiberLaser::UpdateAlarms();
    SetAlarmStatus(Fault);
  }
  std::string GetAlarmDesc() override {
    ++DescCalls;
    return Text;
  }
};

class AlarmTest : public nclaser::testing::HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    P.Initialize();
    P.DefParams.Model = "M";
    L = NewLaser<TFaultyLaser>(nullptr, P);
    F = static_cast<TFaultyLaser*>(L.get());
  }
  void TearDown() override {
    L.reset();
    HostTest::TearDown();
  }
  TLaserParams P;
  TNcLaserPtr L;
  TFaultyLaser* F = nullptr;
};

TEST_F(AlarmTest, OneIdPerLaserCreatedOnlyWhenFirstRaised) {
  EXPECT_EQ(L->GetAlarmID(), 0);
  L->RegisterAlarms();
  const int ID = L->GetAlarmID();
  EXPECT_NE(ID, 0);
  EXPECT_EQ(Host->Alarms.CreatedCount(), 0); // registering creates no alarm
  L->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.CreatedCount(), 0); // nor does clearing one never raised
  F->Fault = true;
  L->UpdateAlarms();
  L->UpdateAlarms();
  ASSERT_TRUE(Host->Alarms.IsActive(ID));
  EXPECT_EQ(Host->Alarms.CreatedCount(), 1);
  const auto A = Host->Alarms.Active();
  ASSERT_EQ(A.size(), 1U);
  EXPECT_EQ(A[0].PlcName, "Laser");
  EXPECT_EQ(A[0].Options & 0x00E0, 0x00E0);
  EXPECT_EQ(A[0].Desc, "fault A");
  F->Fault = false;
  L->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
  F->Fault = true;
  L->UpdateAlarms();
  EXPECT_TRUE(Host->Alarms.IsActive(ID)); // same id again
  EXPECT_EQ(L->GetAlarmID(), ID);
  EXPECT_EQ(Host->Alarms.CreatedCount(), 2);
}

TEST_F(AlarmTest, TextIsAskedAnewOnEveryRead) {
  L->RegisterAlarms();
  F->Fault = true;
  L->UpdateAlarms();
  const int Before = F->DescCalls;
  EXPECT_EQ(Host->Alarms.Active()[0].Desc, "fault A");
  F->Text = "fault B";
  EXPECT_EQ(Host->Alarms.Active()[0].Desc, "fault B");
  EXPECT_EQ(F->DescCalls, Before + 2);
}

TEST_F(AlarmTest, TwoLasersHaveTwoAlarms) {
  auto Other = NewLaser<TFaultyLaser>(nullptr, P);
  L->RegisterAlarms();
  Other->RegisterAlarms();
  EXPECT_NE(L->GetAlarmID(), Other->GetAlarmID());
  F->Fault = true;
  static_cast<TFaultyLaser*>(Other.get())->Fault = true;
  L->UpdateAlarms();
  Other->UpdateAlarms();
  EXPECT_EQ(Host->Alarms.Count(), 2U);
  Other.reset();
  EXPECT_EQ(Host->Alarms.Count(), 1U);
}

TEST_F(AlarmTest, ADestroyedLaserLeavesNoAlarmAndIsNeverAskedAgain) {
  L->RegisterAlarms();
  F->Fault = true;
  L->UpdateAlarms();
  ASSERT_EQ(Host->Alarms.Count(), 1U);
  // Read the texts on another thread while the laser goes away.
  std::atomic<bool> Stop{false};
  std::thread Reader([&] {
    while (!Stop) {
      for (const auto& A : Host->Alarms.Active()) {
        EXPECT_TRUE(A.Desc == "fault A" || A.Desc.empty());
      }
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  L.reset();
  Stop = true;
  Reader.join();
  EXPECT_EQ(Host->Alarms.Count(), 0U);
}

} // namespace
} // namespace nclaser
