#include "apps/nclaser/stop.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

namespace nclaser::cli {

namespace {

std::atomic<bool> GStop{false};
std::atomic<int> GSignal{0};
std::atomic<bool> GClosing{false};
std::mutex GActionLock;
std::function<void()> GAction;
std::thread GSignalThread;

sigset_t StopSignals() {
  sigset_t Set;
  sigemptyset(&Set);
  sigaddset(&Set, SIGINT);
  sigaddset(&Set, SIGTERM);
  sigaddset(&Set, SIGUSR2); // only to end the signal thread
  return Set;
}

void Say(const char* Text) {
  [[maybe_unused]] const auto N = ::write(STDERR_FILENO, Text, std::strlen(Text));
}

void SignalLoop() {
  const sigset_t Set = StopSignals();
  for (;;) {
    int Sig = 0;
    if (sigwait(&Set, &Sig) != 0) {
      continue;
    }
    if (Sig == SIGUSR2) {
      if (GClosing.load()) {
        return;
      }
      continue;
    }
    if (GStop.load()) {
      Say("nclaser: tear-down in progress (emission and laser are off); leaving once the laser "
          "is torn down\n");
      continue;
    }
    GSignal = Sig;
    GStop = true;
    std::lock_guard<std::mutex> L(GActionLock);
    if (GAction) {
      GAction();
    }
  }
}

} // namespace

void InstallStopSignals() {
  const sigset_t Set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &Set, nullptr);
  GSignalThread = std::thread(&SignalLoop);
}

void RemoveStopSignals() {
  if (!GSignalThread.joinable()) {
    return;
  }
  GClosing = true;
  pthread_kill(GSignalThread.native_handle(), SIGUSR2);
  GSignalThread.join();
}

const std::atomic<bool>& StopRequested() {
  return GStop;
}

int InterruptedStatus() {
  const int S = GSignal.load();
  return 128 + (S != 0 ? S : SIGINT);
}

TStopAction::TStopAction(std::function<void()> Fn) {
  std::lock_guard<std::mutex> L(GActionLock);
  GAction = std::move(Fn);
}

TStopAction::~TStopAction() {
  std::lock_guard<std::mutex> L(GActionLock);
  GAction = nullptr;
}

} // namespace nclaser::cli
