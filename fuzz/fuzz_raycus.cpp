// Feeds arbitrary reads to the Raycus QCW answer check and decoders, and to a driver
// without a port (the decoding its monitor runs on every read): nothing may crash them,
// and what they accept must agree with the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "params/params.h"
#include "protocols/raycus.h"
#include "raydrv/rayqcwdriver.h"

namespace raycus = nclaser::raycus;

namespace {

unsigned Word(std::span<const std::uint8_t> F, std::size_t At) {
  return (static_cast<unsigned>(F[At]) << 8U) | F[At + 1];
}

nclaser::TRayQCWDriver& Driver() {
  static nclaser::TRayQCWDriver* D = [] {
    nclaser::TRaycusLaserParams P;
    P.Initialize();
    P.Comm.CommPort = 0;
    return new nclaser::TRayQCWDriver(nullptr, P);
  }();
  return *D;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::span<const std::uint8_t> In(Data, Size > 4096 ? 4096 : Size);
  const auto A = raycus::ParseAnswer(In);
  if (A) {
    const std::size_t N = In.size();
    std::uint32_t Sum = 0;
    for (std::size_t I = 4; I + 4 < N; ++I) {
      Sum += In[I];
    }
    if (N < raycus::FrameOverhead || Word(In, 2) != N - 6 || Word(In, N - 4) != Sum ||
        A->Code != In[6] || A->Data.size() != N - raycus::FrameOverhead) {
      std::abort();
    }
    if (const auto S = raycus::DecodeStatus(A->Data)) {
      if (S->ModuleNum != A->Data[31] || S->ModuleState.size() != S->ModuleNum * 13U ||
          A->Data.size() < 32 + S->ModuleState.size()) {
        std::abort();
      }
      const int K = raycus::AlarmIndex(S->ModuleState);
      if (K < -1 || K > 12) {
        std::abort();
      }
    }
  }
  const auto F = raycus::FindFrame(In);
  if (F.Skip > In.size() || F.Skip + F.Length > In.size() ||
      (F.Length > 0 && (In[F.Skip] != 0xAA || In[F.Skip + 1] != 0x55 ||
                        F.Length != Word(In, F.Skip + 2) + 6U || F.Length < 12))) {
    std::abort();
  }
  auto& D = Driver();
  D.AnalyzeResponse(In);
  const auto L = D.LaserData();
  if (L.ModuleState.size() != L.ModuleNum * 13U || D.HasAlarm()) { // no port: never an alarm
    std::abort();
  }
  (void)D.GetAlarmDesc();
  (void)D.GetIsQCW150();
  return 0;
}
