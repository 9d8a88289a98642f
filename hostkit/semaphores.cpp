#include "hostkit/semaphores.h"

#include <chrono>
#include <condition_variable>

namespace nclaser::hostkit {

THandle TSemaphoreTable::CreateSemaphoreW(int Initial, int Maximum, const std::string& Name) {
  if (Initial < 0 || Maximum < 1 || Initial > Maximum) {
    return 0;
  }
  std::lock_guard<std::mutex> L(FLock);
  std::shared_ptr<TSem> S;
  if (!Name.empty()) {
    const auto It = FNamed.find(Name);
    if (It != FNamed.end()) {
      S = It->second.lock();
    }
  }
  if (!S) {
    S = std::make_shared<TSem>();
    S->Count = Initial;
    S->Maximum = Maximum;
    if (!Name.empty()) {
      FNamed[Name] = S;
    }
  }
  const THandle H = FNext++;
  FHandles[H] = S;
  return H;
}

std::shared_ptr<TSemaphoreTable::TSem> TSemaphoreTable::Find(THandle Handle) {
  std::lock_guard<std::mutex> L(FLock);
  const auto It = FHandles.find(Handle);
  return It != FHandles.end() ? It->second : nullptr;
}

std::uint32_t TSemaphoreTable::WaitForSingleObject(THandle Handle, std::uint32_t TimeoutMs) {
  const auto S = Find(Handle);
  if (!S) {
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> L(S->M);
  auto Ready = [&] { return S->Count > 0; };
  if (TimeoutMs == INFINITE) {
    S->CV.wait(L, Ready);
  } else if (!S->CV.wait_for(L, std::chrono::milliseconds(TimeoutMs), Ready)) {
    return WAIT_TIMEOUT;
  }
  --S->Count;
  return WAIT_OBJECT_0;
}

bool TSemaphoreTable::ReleaseSemaphore(THandle Handle, int Count, int* PreviousCount) {
  const auto S = Find(Handle);
  if (!S || Count < 1) {
    return false;
  }
  {
    std::lock_guard<std::mutex> L(S->M);
    if (S->Count + Count > S->Maximum) {
      return false;
    }
    if (PreviousCount != nullptr) {
      *PreviousCount = S->Count;
    }
    S->Count += Count;
  }
  S->CV.notify_all();
  return true;
}

bool TSemaphoreTable::CloseHandle(THandle Handle) {
  std::lock_guard<std::mutex> L(FLock);
  return FHandles.erase(Handle) != 0;
}

THandle TSemaphoreTable::DuplicateHandle(THandle Handle) {
  std::lock_guard<std::mutex> L(FLock);
  const auto It = FHandles.find(Handle);
  if (It == FHandles.end()) {
    return 0;
  }
  const THandle H = FNext++;
  FHandles[H] = It->second;
  return H;
}

int TSemaphoreTable::GetCount(THandle Handle) {
  const auto S = Find(Handle);
  if (!S) {
    return -1;
  }
  std::lock_guard<std::mutex> L(S->M);
  return S->Count;
}

size_t TSemaphoreTable::OpenHandles() {
  std::lock_guard<std::mutex> L(FLock);
  return FHandles.size();
}

} // namespace nclaser::hostkit
