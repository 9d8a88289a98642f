// Locks and the host's named semaphores.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace nclaser {

// A critical section: re-entrant for its owning thread.
using TCriticalSection = std::recursive_mutex;

using THandle = std::int32_t;
constexpr std::uint32_t WAIT_OBJECT_0 = 0;
constexpr std::uint32_t WAIT_TIMEOUT = 258;
constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr std::uint32_t INFINITE = 0xFFFFFFFF;

// Semaphores with the count/maximum/timed-wait semantics of the host's platform. A name
// makes every creation with that name share one semaphore (the later creations keep its
// count); each handle is closed on its own and the semaphore lives while any handle does.
// Handles are positive; an unknown or closed handle fails every call without harm.
// Threads: every call may come from any thread.
class TSemaphoreApi {
public:
  virtual ~TSemaphoreApi() = default;
  // 0 on failure (Initial < 0, Maximum < 1, Initial > Maximum).
  virtual THandle CreateSemaphoreW(int Initial, int Maximum, const std::string& Name) = 0;
  // WAIT_OBJECT_0 when the count was taken, WAIT_TIMEOUT, or WAIT_FAILED for a bad handle.
  virtual std::uint32_t WaitForSingleObject(THandle Handle, std::uint32_t TimeoutMs) = 0;
  // Adds Count; false (nothing added) when that would pass the maximum or the handle is bad.
  virtual bool ReleaseSemaphore(THandle Handle, int Count, int* PreviousCount) = 0;
  virtual bool CloseHandle(THandle Handle) = 0;
  // A second handle on the same semaphore, for a thread that may outlive the first one.
  virtual THandle DuplicateHandle(THandle Handle) = 0;
};

extern TSemaphoreApi* SemaphoreApi;

THandle CreateSemaphoreW(int Initial, int Maximum, const std::string& Name);
std::uint32_t WaitForSingleObject(THandle Handle, std::uint32_t TimeoutMs);
bool ReleaseSemaphore(THandle Handle, int Count, int* PreviousCount = nullptr);
bool CloseHandle(THandle Handle);
THandle DuplicateHandle(THandle Handle);

} // namespace nclaser
