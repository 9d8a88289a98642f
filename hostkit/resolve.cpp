#include "hostkit/resolve.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "host/clock.h"

namespace nclaser::hostkit {

namespace {

std::atomic<TLookupFn> GLookup{nullptr};

struct TJob {
  std::mutex M;
  std::condition_variable CV;
  bool Done = false;
  int Rc = 0;
  std::vector<TAddress> List;
};

// Lookups in flight by name. Never destroyed: a helper may still finish during exit.
std::mutex& JobsLock() {
  static auto* M = new std::mutex;
  return *M;
}
std::map<std::string, std::shared_ptr<TJob>>& Jobs() {
  static auto* J = new std::map<std::string, std::shared_ptr<TJob>>;
  return *J;
}

int Lookup(const std::string& Host, const std::string& Port, int Family, bool NumericOnly,
           std::vector<TAddress>& Out) {
  addrinfo Hints{};
  Hints.ai_family = Family;
  Hints.ai_socktype = SOCK_STREAM;
  Hints.ai_flags = NumericOnly ? AI_NUMERICHOST : 0;
  addrinfo* List = nullptr;
  const TLookupFn Fn = NumericOnly ? nullptr : GLookup.load();
  const int Rc =
      Fn != nullptr
          ? Fn(Host.c_str(), Port.empty() ? nullptr : Port.c_str(), &Hints, &List)
          : ::getaddrinfo(Host.c_str(), Port.empty() ? nullptr : Port.c_str(), &Hints, &List);
  if (Rc != 0) {
    return Rc;
  }
  for (const addrinfo* A = List; A != nullptr; A = A->ai_next) {
    if (A->ai_addrlen > sizeof(sockaddr_storage)) {
      continue;
    }
    TAddress T;
    T.Family = A->ai_family;
    std::memcpy(&T.Addr, A->ai_addr, A->ai_addrlen);
    T.Len = A->ai_addrlen;
    Out.push_back(T);
  }
  ::freeaddrinfo(List);
  return Out.empty() ? EAI_NONAME : 0;
}

} // namespace

void SetLookup(TLookupFn Fn) {
  GLookup.store(Fn);
}

bool ResolveWithin(const std::string& Host, const std::string& Port, int Family, double DeadlineMs,
                   std::vector<TAddress>& Out, std::string* Error) {
  Out.clear();
  const auto Fail = [&](const std::string& Why) {
    if (Error != nullptr) {
      *Error = Host + ": " + Why;
    }
    return false;
  };
  if (Host.empty()) {
    return Fail("no host");
  }
  const int Numeric = Lookup(Host, Port, Family, true, Out);
  if (Numeric == 0) {
    return true;
  }
  if (Numeric != EAI_NONAME) {
    return Fail(::gai_strerror(Numeric));
  }
  const std::string Key = Host + '\n' + Port + '\n' + std::to_string(Family);
  std::shared_ptr<TJob> Job;
  {
    std::lock_guard<std::mutex> L(JobsLock());
    auto& Slot = Jobs()[Key];
    if (!Slot) {
      Slot = std::make_shared<TJob>();
      std::thread([Job = Slot, Key, Host, Port, Family] {
        std::vector<TAddress> List;
        const int Rc = Lookup(Host, Port, Family, false, List);
        {
          std::lock_guard<std::mutex> L(JobsLock());
          Jobs().erase(Key);
        }
        std::lock_guard<std::mutex> L(Job->M);
        Job->Rc = Rc;
        Job->List = std::move(List);
        Job->Done = true;
        Job->CV.notify_all();
      }).detach();
    }
    Job = Slot;
  }
  std::unique_lock<std::mutex> L(Job->M);
  const double Left = DeadlineMs - NowMs();
  const auto Wait = std::chrono::microseconds(Left > 0 ? static_cast<long long>(Left * 1000) : 0);
  if (!Job->CV.wait_for(L, Wait, [&] { return Job->Done; })) {
    return Fail("name lookup timed out");
  }
  if (Job->Rc != 0) {
    return Fail(::gai_strerror(Job->Rc));
  }
  Out = Job->List;
  return true;
}

} // namespace nclaser::hostkit
