#include "params/params.h"

#include <cstring>
#include <type_traits>

namespace nclaser {

namespace {

template <class T> void ZeroFill(T& R) {
  static_assert(std::is_trivially_copyable_v<T>);
  std::memset(static_cast<void*>(&R), 0, sizeof(T));
}

template <std::size_t N> void CopyText(char16_t (&Buf)[N], const char16_t* Text) {
  std::size_t I = 0;
  for (; Text[I] != 0 && I + 1 < N; ++I) {
    Buf[I] = Text[I];
  }
  Buf[I] = 0;
}

// The variant part is one storage area; the IPG member is the largest.
static_assert(sizeof(TIPGLaserParams) >= sizeof(TRaycusLaserParams));
static_assert(sizeof(TIPGLaserParams) >= sizeof(TSPILaserParam));
static_assert(sizeof(TIPGLaserParams) >= sizeof(TGSILaserParam));
static_assert(sizeof(TIPGLaserParams) >= sizeof(TRofinLaserParam));
static_assert(std::is_trivially_copyable_v<TIPGLaserParams>);
static_assert(std::is_trivially_copyable_v<TRaycusLaserParams>);
static_assert(sizeof(TSPILaserParam::Model) == 44);

} // namespace

void TLaserPWM::Initialize() {
  DynamicPwm = false;
  DiodeCurrent = 100.0;
  EnablePort1 = 0;
  EnablePort2 = 0;
  Frequency = 5000;
  MinRatio = 0.01;
  Ratio = 1.0;
}

void TLaserDA::Initialize() {
  DAPort = 0;
  MaxVoltage = 10.0;
  ProofMax = 10.0;
}

double TLaserDA::GetDARatio(double Value) const {
  // A NaN ProofMax fails the comparison and leaves the value unchanged.
  if (ProofMax > 5.0) {
    return MaxVoltage / ProofMax * Value;
  }
  return Value;
}

void TLaserParamsDef::Initialize() {}

void TLaserComm::Initialize() {
  CommPort = 1;
  CopyText(CommSettings, u"9600,n,8,1");
  Baudrate = 9600;
  IgnoreCommResult = true;
}

void TLaserNet::Initialize() {
  CopyText(TcpHost, u"127.0.0.1");
  TcpPort = 8080;
}

void TLaserConnCheckCfg::Initialize() {
  ConnCheckTimeIntv = 30.0;
  ConnCheckTimeStart = 0.01;
}

void TIPGYLSHardWire::Initialize() {
  ZeroFill(*this);
  EmissionStatusPort = 0;
  LaserOnPort = 6;
  LaserRequestPort = 7;
  ProgramStartPort = 8;
}

void TIPGYLRLaserParam::Initialize() {
  ZeroFill(*this);
  ConnCheck.Initialize();
  Net.Initialize();
  Comm.Initialize();
}

void TIPGYLSLaserParam::Initialize() {
  ZeroFill(*this);
  ConnCheck.Initialize();
  Wire.Initialize();
  Net.Initialize();
}

void TIPGYLPLaserParam::Initialize() {
  ZeroFill(*this);
}

void TIPGLaserParams::Initialize() {
  IPGType = ltIPGErr;
  YLR.Initialize();
  YLS.Initialize();
  YLP.Initialize();
}

void TLaserQcwParams::Initialize() {
  ZeroFill(*this);
  PulseFreq = 5000;
  PulseRatio = 10;
  PulsePower = 100;
}

void TRaycusLaserParams::Initialize() {
  RayType = ltRayErr;
  Comm.Initialize();
  ConnCheck.Initialize();
  QCW.Initialize();
}

void TLaserCommParam::Initialize() {
  Comm.Initialize();
}
void TSPILaserParam::Initialize() {
  ZeroFill(*this);
}
void TGSILaserParam::Initialize() {
  ZeroFill(*this);
}
void TQYLaserParam::Initialize() {
  ZeroFill(*this);
}
void TRofinLaserParam::Initialize() {
  ZeroFill(*this);
}
void TCO2LaserParam::Initialize() {
  ZeroFill(*this);
}
void TMeimanLaserParam::Initialize() {
  ZeroFill(*this);
}
void TOtherLaserParam::Initialize() {
  ZeroFill(*this);
}

void TLaserParams::Initialize() {
  DefParams.Model.clear();
  DefParams.CtrlPort = 0;
  DefParams.AimingPort = 0;
  DefParams.AimingLowActive = false;
  DefParams.Power = 0.0;
  ZeroFill(DefParams.PWM);
  ZeroFill(DefParams.DA);
  LaserType = eltNone;
  ZeroFill(CfgIPG); // the largest member covers the whole variant part
}

} // namespace nclaser
