// Named semaphores with the count/maximum/timed-wait semantics the lasers rely on, shared
// by name inside the process.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "host/sync.h"

namespace nclaser::hostkit {

class TSemaphoreTable : public TSemaphoreApi {
public:
  THandle CreateSemaphoreW(int Initial, int Maximum, const std::string& Name) override;
  std::uint32_t WaitForSingleObject(THandle Handle, std::uint32_t TimeoutMs) override;
  bool ReleaseSemaphore(THandle Handle, int Count, int* PreviousCount) override;
  bool CloseHandle(THandle Handle) override;
  THandle DuplicateHandle(THandle Handle) override;

  // The count of the semaphore behind a handle (-1 for a bad handle); for tests.
  int GetCount(THandle Handle);
  size_t OpenHandles();

private:
  struct TSem {
    std::mutex M;
    std::condition_variable CV;
    int Count = 0;
    int Maximum = 1;
  };
  std::shared_ptr<TSem> Find(THandle Handle);

  std::mutex FLock;
  std::map<THandle, std::shared_ptr<TSem>> FHandles;
  std::map<std::string, std::weak_ptr<TSem>> FNamed;
  THandle FNext = 0x100;
};

} // namespace nclaser::hostkit
