#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "host/clock.h"
#include "host/sync.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

using SemaphoreTest = nclaser::testing::HostTest;

TEST_F(SemaphoreTest, CountMaximumTimedWaitAndHarmlessFailures) {
  const THandle H = CreateSemaphoreW(1, 1, "");
  ASSERT_GT(H, 0);
  EXPECT_EQ(WaitForSingleObject(H, 0), WAIT_OBJECT_0);
  const double T0 = NowMs();
  EXPECT_EQ(WaitForSingleObject(H, 50), WAIT_TIMEOUT);
  EXPECT_GE(ElapsedMs(T0), 45.0);
  int Previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(H, 1, &Previous));
  EXPECT_EQ(Previous, 0);
  EXPECT_FALSE(ReleaseSemaphore(H, 1)); // would pass the maximum
  EXPECT_EQ(WaitForSingleObject(H, 0), WAIT_OBJECT_0);
  std::thread Other([H] { // a release on another thread wakes the waiter at once
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ReleaseSemaphore(H, 1);
  });
  const double T1 = NowMs();
  EXPECT_EQ(WaitForSingleObject(H, 5000), WAIT_OBJECT_0);
  EXPECT_LT(ElapsedMs(T1), 1000.0);
  Other.join();
  EXPECT_TRUE(CloseHandle(H));
  // Closed handles and bad arguments fail without harm.
  EXPECT_FALSE(CloseHandle(H));
  EXPECT_EQ(WaitForSingleObject(H, 10), WAIT_FAILED);
  EXPECT_FALSE(ReleaseSemaphore(H, 1));
  EXPECT_EQ(DuplicateHandle(H), 0);
  EXPECT_EQ(CreateSemaphoreW(2, 1, "x"), 0);
  EXPECT_EQ(CreateSemaphoreW(-1, 1, "x"), 0);
  EXPECT_EQ(CreateSemaphoreW(0, 0, "x"), 0);
}

TEST_F(SemaphoreTest, ANameSharesOneSemaphoreWhileAnyHandleLives) {
  const THandle A = CreateSemaphoreW(1, 1, "Lock_Semaphore");
  const THandle B = CreateSemaphoreW(1, 1, "Lock_Semaphore"); // keeps A's count
  ASSERT_NE(A, B);
  EXPECT_EQ(WaitForSingleObject(A, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(B, 0), WAIT_TIMEOUT);
  const THandle D = DuplicateHandle(A);
  EXPECT_TRUE(CloseHandle(A));
  EXPECT_TRUE(CloseHandle(B));
  EXPECT_TRUE(ReleaseSemaphore(D, 1)); // the duplicate still reaches it
  const THandle C = CreateSemaphoreW(0, 1, "Lock_Semaphore");
  EXPECT_EQ(WaitForSingleObject(C, 0), WAIT_OBJECT_0); // same semaphore, count 1
  EXPECT_TRUE(CloseHandle(C));
  EXPECT_TRUE(CloseHandle(D));
  // All handles gone: a new creation starts afresh with its own initial count.
  const THandle E = CreateSemaphoreW(0, 1, "Lock_Semaphore");
  EXPECT_EQ(WaitForSingleObject(E, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(E));
  EXPECT_EQ(Host->Semaphores.OpenHandles(), 0U);
}

} // namespace
} // namespace nclaser
