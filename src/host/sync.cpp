#include "host/sync.h"

namespace nclaser {

TSemaphoreApi* SemaphoreApi = nullptr;

THandle CreateSemaphoreW(int Initial, int Maximum, const std::string& Name) {
  return SemaphoreApi != nullptr ? SemaphoreApi->CreateSemaphoreW(Initial, Maximum, Name) : 0;
}

std::uint32_t WaitForSingleObject(THandle Handle, std::uint32_t TimeoutMs) {
  return SemaphoreApi != nullptr ? SemaphoreApi->WaitForSingleObject(Handle, TimeoutMs)
                                 : WAIT_FAILED;
}

bool ReleaseSemaphore(THandle Handle, int Count, int* PreviousCount) {
  return SemaphoreApi != nullptr && SemaphoreApi->ReleaseSemaphore(Handle, Count, PreviousCount);
}

bool CloseHandle(THandle Handle) {
  return SemaphoreApi != nullptr && SemaphoreApi->CloseHandle(Handle);
}

THandle DuplicateHandle(THandle Handle) {
  return SemaphoreApi != nullptr ? SemaphoreApi->DuplicateHandle(Handle) : 0;
}

} // namespace nclaser
