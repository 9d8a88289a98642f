// Helpers for the tests of the I/O-driven lasers: a configuration record with the usual
// defaults, and views of the machine I/O timeline.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/clock.h"
#include "hostkit/machine_io.h"
#include "lasers/factory.h"
#include "params/schema.h"
#include "tests/support/host_fixture.h"

namespace nclaser::testing {

// A record the way a host fills it.
inline TLaserParams IoParams(TEnumLaserType Type) {
  TLaserParams P;
  InitializeHostDefaults(P, Type);
  return P;
}

template <class T> T& As(const TNcLaserPtr& L) {
  return static_cast<T&>(*L);
}

// A write seen in the timeline, with its time after T0.
struct TWrite {
  std::string What; // "out3=1", "da2=5", "pwm_on=1"
  double AtMs;
};

// The digital output writes on the given ports at or after T0, in order.
inline std::vector<TWrite> OutputWrites(const hostkit::TMachineIO& IO, const std::set<int>& Ports,
                                        double T0) {
  std::vector<TWrite> Out;
  for (const auto& E : IO.Timeline()) {
    if (E.Kind == hostkit::TIoKind::Output && E.TimeMs >= T0 && Ports.count(E.Port) != 0) {
      Out.push_back({hostkit::ToString(E), E.TimeMs - T0});
    }
  }
  return Out;
}

// Every event of a kind at or after T0, in order, as text.
inline std::vector<std::string> Events(const hostkit::TMachineIO& IO, hostkit::TIoKind Kind,
                                       double T0 = 0.0) {
  std::vector<std::string> Out;
  for (const auto& E : IO.Timeline()) {
    if (E.Kind == Kind && E.TimeMs >= T0) {
      Out.push_back(hostkit::ToString(E));
    }
  }
  return Out;
}

inline std::vector<std::string> Names(const std::vector<TWrite>& W) {
  std::vector<std::string> Out;
  Out.reserve(W.size());
  for (const auto& X : W) {
    Out.push_back(X.What);
  }
  return Out;
}

// The time after T0 of the first event "What" (as ToString writes it), if any.
inline std::optional<double> FirstAt(const hostkit::TMachineIO& IO, const std::string& What,
                                     double T0) {
  for (const auto& E : IO.Timeline()) {
    if (E.TimeMs >= T0 && hostkit::ToString(E) == What) {
      return E.TimeMs - T0;
    }
  }
  return std::nullopt;
}

// Timing bounds for a loaded two-core machine: an event due at Ms may come a little early
// only through clock granularity, and late by scheduling. Sanitizer builds start threads
// and take locks several times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define NCLASER_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define NCLASER_TEST_SANITIZED 1
#endif
#endif
#ifdef NCLASER_TEST_SANITIZED
constexpr double KLateMs = 150.0;
#else
constexpr double KLateMs = 80.0;
#endif
constexpr double KEarlyMs = 2.0;
// A call that must return without waiting for a sequence or a pause.
constexpr double KAtOnceMs = KLateMs;

#define EXPECT_AT(Opt, Ms)                                                                         \
  do {                                                                                             \
    const auto At_ = (Opt);                                                                        \
    ASSERT_TRUE(At_.has_value()) << "event missing, expected at " << (Ms) << " ms";                \
    EXPECT_GE(*At_, (Ms) - ::nclaser::testing::KEarlyMs);                                          \
    EXPECT_LE(*At_, (Ms) + ::nclaser::testing::KLateMs);                                           \
  } while (false)

// A call that waited about Ms milliseconds.
#define EXPECT_WAITED(Elapsed, Ms)                                                                 \
  do {                                                                                             \
    const double E_ = (Elapsed);                                                                   \
    EXPECT_GE(E_, (Ms)-5.0);                                                                       \
    EXPECT_LE(E_, (Ms) + ::nclaser::testing::KLateMs);                                             \
  } while (false)

} // namespace nclaser::testing
