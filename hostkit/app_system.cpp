#include "hostkit/app_system.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>

#include "host/clock.h"

namespace nclaser::hostkit {

void THostAppSystem::Append(const TLogLine& Line) {
  std::function<void(const TLogLine&)> Sink;
  {
    std::lock_guard<std::mutex> L(FLock);
    FLines.push_back(Line);
    if (FLines.size() > MaxLines) {
      FLines.pop_front();
      ++FDroppedLines;
    }
    Sink = FSink;
  }
  FNewLine.notify_all();
  if (Sink) {
    Sink(Line);
  }
}

void THostAppSystem::ShowMsg(const std::string& Text, TColor Color) {
  Append({NowMs(), Text, Color, 0, false});
}

void THostAppSystem::ShowMsg(const std::string& Text, int MessageType, TColor Color) {
  Append({NowMs(), Text, Color, MessageType, false});
}

void THostAppSystem::OutputDebugString(const std::string& Text) {
  Append({NowMs(), Text, clBlack, 0, true});
}

void THostAppSystem::RegisterLocaleProc(TLocaleProc Proc) {
  std::lock_guard<std::mutex> L(FLock);
  if (Proc != nullptr) {
    FLocaleProcs.push_back(Proc);
  }
}

void THostAppSystem::UnregisterLocaleProc(TLocaleProc Proc) {
  std::lock_guard<std::mutex> L(FLock);
  std::erase(FLocaleProcs, Proc);
}

void THostAppSystem::SetThreadName(const std::string& Name) {
  // The kernel keeps 15 bytes of a thread's name.
  pthread_setname_np(pthread_self(), Name.substr(0, 15).c_str());
  std::lock_guard<std::mutex> L(FLock);
  FThreadNames.push_back(Name);
  if (FThreadNames.size() > MaxLines) {
    FThreadNames.pop_front();
  }
}

TKdLocaleResource* THostAppSystem::GetLocale() {
  return &FLocale;
}

void THostAppSystem::CallLocaleProcs() {
  std::vector<TLocaleProc> Procs;
  {
    std::lock_guard<std::mutex> L(FLock);
    Procs = FLocaleProcs;
  }
  for (TLocaleProc P : Procs) {
    P();
  }
}

bool THostAppSystem::LoadLocale(const std::string& Path, std::string* Error) {
  if (!FLocale.LoadFromFile(Path, Error)) {
    return false;
  }
  CallLocaleProcs();
  return true;
}

void THostAppSystem::LoadLocaleText(const std::string& Text) {
  FLocale.LoadFromString(Text);
  CallLocaleProcs();
}

std::vector<TLogLine> THostAppSystem::Lines() const {
  std::lock_guard<std::mutex> L(FLock);
  std::vector<TLogLine> Out;
  std::copy_if(FLines.begin(), FLines.end(), std::back_inserter(Out),
               [](const TLogLine& Line) { return !Line.Debug; });
  return Out;
}

std::vector<TLogLine> THostAppSystem::DebugLines() const {
  std::lock_guard<std::mutex> L(FLock);
  std::vector<TLogLine> Out;
  std::copy_if(FLines.begin(), FLines.end(), std::back_inserter(Out),
               [](const TLogLine& Line) { return Line.Debug; });
  return Out;
}

int THostAppSystem::CountContaining(const std::string& Part) const {
  std::lock_guard<std::mutex> L(FLock);
  return static_cast<int>(std::count_if(FLines.begin(), FLines.end(), [&](const TLogLine& Line) {
    return !Line.Debug && Line.Text.find(Part) != std::string::npos;
  }));
}

bool THostAppSystem::WaitForLine(const std::string& Part, int TimeoutMs) const {
  std::unique_lock<std::mutex> L(FLock);
  return FNewLine.wait_for(L, std::chrono::milliseconds(TimeoutMs), [&] {
    return std::any_of(FLines.begin(), FLines.end(), [&](const TLogLine& Line) {
      return !Line.Debug && Line.Text.find(Part) != std::string::npos;
    });
  });
}

void THostAppSystem::ClearLines() {
  std::lock_guard<std::mutex> L(FLock);
  FLines.clear();
}

void THostAppSystem::SetSink(std::function<void(const TLogLine&)> Sink) {
  std::lock_guard<std::mutex> L(FLock);
  FSink = std::move(Sink);
}

std::vector<std::string> THostAppSystem::ThreadNames() const {
  std::lock_guard<std::mutex> L(FLock);
  return {FThreadNames.begin(), FThreadNames.end()};
}

std::size_t THostAppSystem::DroppedLines() const {
  std::lock_guard<std::mutex> L(FLock);
  return FDroppedLines;
}

size_t THostAppSystem::LocaleProcCount() const {
  std::lock_guard<std::mutex> L(FLock);
  return FLocaleProcs.size();
}

} // namespace nclaser::hostkit
