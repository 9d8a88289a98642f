// The host's application services: message log, locale resource, thread naming and the
// debugger output.
// Threads: every call may come from any thread; implementations are thread-safe.
// RegisterLocaleProc is called at package load and UnregisterLocaleProc at unload, on the
// host's main thread.
#pragma once

#include <string>

#include "host/types.h"

namespace nclaser {

class TKdLocaleResource {
public:
  virtual ~TKdLocaleResource() = default;
  virtual bool GetLoaded() const = 0;
  // Replaces Value with the localised text when the key exists, else leaves it untouched.
  virtual void ReadStr(const std::string& Section, const std::string& Key, std::string& Value) = 0;
};

using TLocaleProc = void (*)();

class TAppSystem {
public:
  virtual ~TAppSystem() = default;
  // Appends a line in colour Color (0x00BBGGRR).
  virtual void ShowMsg(const std::string& Text, TColor Color) = 0;
  // Appends a line of a message type; type 5 (mtProminent) is the prominent message.
  virtual void ShowMsg(const std::string& Text, int MessageType, TColor Color) = 0;
  virtual void RegisterLocaleProc(TLocaleProc Proc) = 0;
  // The host forgets Proc (its code goes away with the plug-in).
  virtual void UnregisterLocaleProc(TLocaleProc Proc) = 0;
  // Names the calling thread (for debuggers and traces).
  virtual void SetThreadName(const std::string& Name) = 0;
  // The host's locale resource, or null when there is none.
  virtual TKdLocaleResource* GetLocale() = 0;
  // The stand-in for the debugger output (OutputDebugStringW).
  virtual void OutputDebugString(const std::string& Text) = 0;
};

extern TAppSystem* AppSys;

// Convenience wrappers that tolerate a missing host (a laser built before the host is
// installed logs nothing rather than crashing).
void ShowMsg(const std::string& Text, TColor Color);
void ShowMsgType(const std::string& Text, int MessageType);
void SetThreadName(const std::string& Name);
void OutputDebugString(const std::string& Text);

} // namespace nclaser
