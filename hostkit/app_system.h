// The stand-in application services: a message log (kept for tests and shown by the
// command-line tool through a sink), the debugger output, thread naming, the locale
// resource and the registered locale procedures.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/appsys.h"
#include "hostkit/ini_locale.h"

namespace nclaser::hostkit {

struct TLogLine {
  double TimeMs;
  std::string Text;
  TColor Color;
  int MessageType; // 0 for plain lines, mtProminent for prominent ones
  bool Debug;      // a debugger-output line rather than a message-log line
};

class THostAppSystem : public TAppSystem {
public:
  void ShowMsg(const std::string& Text, TColor Color) override;
  void ShowMsg(const std::string& Text, int MessageType, TColor Color) override;
  void RegisterLocaleProc(TLocaleProc Proc) override;
  void UnregisterLocaleProc(TLocaleProc Proc) override;
  void SetThreadName(const std::string& Name) override;
  TKdLocaleResource* GetLocale() override;
  void OutputDebugString(const std::string& Text) override;

  // Loads an INI locale file and calls every registered locale procedure.
  bool LoadLocale(const std::string& Path, std::string* Error = nullptr);
  void LoadLocaleText(const std::string& Text);
  TIniLocale& Locale() { return FLocale; }

  // The log keeps the latest MaxLines lines (a long-running host would fill its memory
  // otherwise); older ones are dropped and counted.
  static constexpr std::size_t MaxLines = 20000;
  std::size_t DroppedLines() const;

  // Message-log lines (debugger lines excluded) and debugger lines.
  std::vector<TLogLine> Lines() const;
  std::vector<TLogLine> DebugLines() const;
  int CountContaining(const std::string& Part) const;
  bool WaitForLine(const std::string& Part, int TimeoutMs) const;
  void ClearLines();
  // Called for every line, on the logging thread.
  void SetSink(std::function<void(const TLogLine&)> Sink);

  // The names threads gave themselves, in the order given (the latest MaxLines).
  std::vector<std::string> ThreadNames() const;
  size_t LocaleProcCount() const;

private:
  void Append(const TLogLine& Line);
  void CallLocaleProcs();

  mutable std::mutex FLock;
  mutable std::condition_variable FNewLine;
  std::deque<TLogLine> FLines;
  std::size_t FDroppedLines = 0;
  std::vector<TLocaleProc> FLocaleProcs;
  std::deque<std::string> FThreadNames;
  std::function<void(const TLogLine&)> FSink;
  TIniLocale FLocale;
};

} // namespace nclaser::hostkit
