// The message catalogue: every user-visible alarm and status text, with built-in defaults
// and the text of the host's language once it loads its locale resource.
#pragma once

#include <mutex>
#include <span>
#include <string>

namespace nclaser {

// A message global. Readers copy the text at the moment they need it, so a language change
// reaches every later alarm and log line; a reader never sees a torn text.
class TResourceString {
public:
  explicit TResourceString(const char* Default) : FText(Default) {}
  TResourceString(const TResourceString&) = delete;
  TResourceString& operator=(const TResourceString&) = delete;
  std::string Get() const {
    std::lock_guard<std::mutex> L(FLock);
    return FText;
  }
  operator std::string() const { return Get(); } // NOLINT(google-explicit-constructor)
  void Set(std::string Text) {
    std::lock_guard<std::mutex> L(FLock);
    FText = std::move(Text);
  }

private:
  mutable std::mutex FLock;
  std::string FText;
};

inline std::string operator+(const std::string& A, const TResourceString& B) {
  return A + B.Get();
}
inline std::string operator+(const TResourceString& A, const std::string& B) {
  return A.Get() + B;
}

extern TResourceString SIPGCommCommunicationException;
extern TResourceString SIPGOverheat;
extern TResourceString SIPGHighBackReflectionLevel;
extern TResourceString SIPGModuleDisconnected;
extern TResourceString SIPGPulseTooShort;
extern TResourceString SIPGPowerSupplyOff;
extern TResourceString SIPGModulationDisabled;
extern TResourceString SIPGGateModeEnabled;
extern TResourceString SIPGHighPulseEnergy;
extern TResourceString SIPGPowerSupplyFailure;
extern TResourceString SIPGHighDutyCycle;
extern TResourceString SIPGLowTemperature;
extern TResourceString SIPGPowerSupplyFailure2;
extern TResourceString SIPGCriticalError;
extern TResourceString SIPGOpticalInterlockactive;
extern TResourceString SIPGAveragePowertooHigh;
extern TResourceString SLaser;
extern TResourceString SLaserType1;
extern TResourceString SLaserType2;
extern TResourceString SLaserType3;
extern TResourceString SLaserAlarm;
extern TResourceString SLaserConnectedOk;
extern TResourceString SLaserConnectedFail;
extern TResourceString SYLSPowerSupplyOn;
extern TResourceString SYLSLaserNotReady;
extern TResourceString SYLSLaserNotInExternCtrl;
extern TResourceString SYLSLaserInRobotMode;
extern TResourceString SSetAccessLevel;
extern TResourceString SAccessLevelResponse;
extern TResourceString SYLSAnalyzeResponseErr;
extern TResourceString SYLSCmdErr;
extern TResourceString STemperature1Err;
extern TResourceString STemperature2Err;
extern TResourceString STemperature3Err;
extern TResourceString STemperature4Err;
extern TResourceString SLaserOnStatus1Err;
extern TResourceString SLaserOnStatus2Err;
extern TResourceString SPowerStatus1Err;
extern TResourceString SPowerStatus2Err;
extern TResourceString SPowerPanelStatusErr;
extern TResourceString SCurrentPanelStatusErr;
extern TResourceString SLaserOnBtnStatusErr;
extern TResourceString SInterLockStatusErr;
extern TResourceString SPulseWidthStatusErr;
extern TResourceString SV101CurrentErr;
extern TResourceString SV101PanelDisConnectErr;
extern TResourceString SV101InterLockErr;
extern TResourceString SV101Err;
extern TResourceString SV101Warning;
extern TResourceString SV101ServerTimeOut;
extern TResourceString SV102BreakLineErr;
extern TResourceString SV102CondensationErr;
extern TResourceString SV102InterLockErr;
extern TResourceString SV102Err;
extern TResourceString SV102Warning;
extern TResourceString SV102ServerTimeOut;

struct TDeviceStr {
  const char* Key;
  TResourceString* Str;
  const char* Default;
};

// The 56 messages in load order; the key is the global's name.
std::span<const TDeviceStr> DeviceStrs();

// The load procedure registered with the host: reads every message from section
// "Device_Strs" of the host's locale resource; a missing key keeps the previous text.
void LoadDeviceStrs();

// The unit's initialisation and finalisation, called by the host at package load and
// unload (it may call them more than once: only the first initialisation registers
// LoadDeviceStrs, only the last finalisation releases the texts and unregisters it).
void InitializeDeviceStrs();
void FinalizeDeviceStrs();

// The Raycus module-state texts (messages 32 to 44) in field order.
std::span<TResourceString* const> RaycusStateStrs();

} // namespace nclaser
