// The configuration record the host passes to a laser's constructor, with every member
// record and its defaults. Plain value records: no default member initialisers, Initialize
// is the only thing that writes defaults.
#pragma once

#include <cstdint>
#include <string>

#include "params/textbuf.h"

namespace nclaser {

enum TEnumLaserType : std::uint8_t {
  eltNone,
  eltCO2,
  eltDA,
  eltIPG,
  eltRay,
  eltGSI,
  eltMaxSZ,
  eltMeiMan,
  eltQingHua,
  eltQYZ,
  eltSPI,
  eltRofin,
  eltCAS,
  eltMars,
  CfgNLight,
  CfgOther
};

enum TIPGLaserType : std::uint8_t {
  ltIPGErr,
  ltYLRComm,
  ltYLRNet,
  ltYLSGemNet,
  ltYLSGemHW,
  ltYLSAmNet,
  ltYLSAmHW,
  ltYLP
};

enum TRayLaserType : std::uint8_t { ltRayErr, ltRayCW, ltRayWCW };

struct TLaserPWM {
  bool DynamicPwm;
  double DiodeCurrent;
  std::int32_t EnablePort1;
  std::int32_t EnablePort2;
  std::int32_t Frequency;
  double MinRatio;
  double Ratio;
  void Initialize();
};

struct TLaserDA {
  std::int32_t DAPort;
  double MaxVoltage;
  double ProofMax;
  void Initialize();
  // MaxVoltage / ProofMax x Value when ProofMax > 5.0, else Value unchanged.
  double GetDARatio(double Value) const;
};

struct TLaserParamsDef {
  std::int32_t CtrlPort;
  std::int32_t AimingPort;
  bool AimingLowActive;
  std::string Model; // UTF-8; variable length, owned by the record
  double Power;
  TLaserPWM PWM;
  TLaserDA DA;
  void Initialize(); // sets no defaults
};

struct TLaserComm {
  std::int32_t CommPort;
  TTextBuf256 CommSettings;
  bool DebugMode;
  bool IgnoreCommResult;
  std::int32_t Baudrate;
  void Initialize();
};

struct TLaserNet {
  TTextBuf256 TcpHost;
  std::int32_t TcpPort;
  void Initialize();
};

// A value W stands for 86400 x W milliseconds.
struct TLaserConnCheckCfg {
  double ConnCheckTimeIntv;
  double ConnCheckTimeStart;
  void Initialize();
};

struct TIPGYLSHardWire {
  std::int32_t EmissionStatusPort;
  std::int32_t LaserOnPort;
  std::int32_t LaserRequestPort;
  std::int32_t ProgramStartPort;
  std::int32_t LaserRequestDelay;
  std::int32_t LaserOnDelay;
  std::int32_t LaserOnPulse;
  void Initialize();
};

struct TIPGYLRLaserParam {
  TLaserComm Comm;
  TLaserNet Net;
  bool IgnoreDiodeReply;
  bool DebugMode;
  TLaserConnCheckCfg ConnCheck;
  bool GateMode;
  bool UseOutputLaserOn;
  void Initialize();
};

struct TIPGYLSLaserParam {
  TIPGYLSHardWire Wire;
  TLaserNet Net;
  bool DebugMode;
  TLaserConnCheckCfg ConnCheck;
  void Initialize();
};

struct TIPGYLPLaserParam {
  bool YLPIndependentEmsOn;
  std::int32_t YLPMO;
  bool YLPAlarmIgnore;
  std::int32_t YLPPower5;
  std::int32_t YLPPower6;
  std::int32_t YLPPower7;
  std::int32_t YLPPower8;
  std::int32_t YLPPowerDelay1;
  std::int32_t YLPPowerDelay2;
  std::int32_t YLPLock;
  std::int32_t YLPAlarm16;
  std::int32_t YLPAlarm21;
  void Initialize();
};

struct TIPGLaserParams {
  TIPGLaserType IPGType;
  TIPGYLRLaserParam YLR;
  TIPGYLSLaserParam YLS;
  TIPGYLPLaserParam YLP;
  TTextBuf256 PulseModel;
  double QCWPWMDelay;
  bool PowerCtrl;
  std::int32_t PowerCtrlPort;
  TTextBuf256 Model;
  double MaxCurrent;
  void Initialize();
};

struct TLaserQcwParams {
  std::int32_t PulseFreq;
  std::int32_t PulseRatio;
  std::int32_t PulsePower;
  void Initialize();
};

struct TRaycusLaserParams {
  TLaserComm Comm;
  TLaserConnCheckCfg ConnCheck;
  TLaserQcwParams QCW;
  TRayLaserType RayType;
  TTextBuf256 PulseModel;
  bool DebugMode;
  void Initialize();
};

struct TLaserCommParam {
  TLaserComm Comm;
  void Initialize();
};

struct TSPILaserParam {
  TLaserComm Comm;
  // A short text (length byte, then up to 43 characters); copied, never read.
  std::uint8_t Model[44];
  void Initialize();
};

struct TGSILaserParam {
  TLaserComm Comm;
  std::uint8_t Address;
  void Initialize();
};

struct TQYLaserParam {
  TLaserComm Comm;
  std::int32_t DAPort;
  void Initialize();
};

struct TRofinLaserParam {
  std::int32_t FaultReset;
  std::int32_t GatePort;
  std::int32_t LaserOn;
  std::int32_t MainsOn;
  std::int32_t StandbyOn;
  std::int32_t StandbyReady;
  std::int32_t SystemReady;
  std::int32_t DelayAfterMainsOn;
  std::int32_t DelayAfterReset;
  std::int32_t DelayAfterResetOff;
  std::int32_t DelayAfterStandby;
  std::int32_t Warning;
  std::int32_t Error;
  void Initialize();
};

struct TCO2LaserParam {
  std::int32_t DynamicDA;
  std::int32_t LaserMode;
  std::int32_t ModeSelect0;
  std::int32_t ModeSelect1;
  std::int32_t ShutterPort;
  std::int32_t ShutterStatus;
  std::int32_t ShutterDelay;
  void Initialize();
};

struct TMeimanLaserParam {
  std::int32_t FreqDAPort;
  std::int32_t RatioDAPort;
  void Initialize();
};

struct TOtherLaserParam {
  std::int32_t ShutterReadyDelay;
  std::int32_t ShutterReady;
  void Initialize();
};

struct TLaserErr {};

struct TLaserParams {
  TLaserParamsDef DefParams;
  TEnumLaserType LaserType;
  // The variant part: only the member that LaserType selects is meaningful; writing one
  // member destroys the others.
  union {
    TLaserErr CfgNone;
    TCO2LaserParam CfgCO2;
    TLaserDA CfgDA;
    TIPGLaserParams CfgIPG;
    TRaycusLaserParams CfgRay;
    TGSILaserParam CfgGSI;
    TLaserCommParam CfgMaxSZ;
    TMeimanLaserParam CfgMeiMan;
    TSPILaserParam CfgSPI;
    TRofinLaserParam CfgRofin;
    TLaserCommParam CfgCAS;
    TLaserCommParam CfgMars;
    TLaserCommParam CfgQingHua;
    TOtherLaserParam CfgOther;
    TLaserCommParam CfgNLight;
  };
  // Zero-fills the whole record (member defaults are not applied).
  void Initialize();
};

} // namespace nclaser
