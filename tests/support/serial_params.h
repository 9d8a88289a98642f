// The configuration of a serial laser on one port, with everything else at its defaults:
// a text-protocol make (Mars, NLight, CAS, QingHua) or a Raycus.
#pragma once

#include <stdexcept>

#include "params/params.h"
#include "params/textbuf.h"

namespace nclaser::testing {

inline TLaserParams SerialLaserParams(TEnumLaserType Type, const char* Model, double DiodeCurrent) {
  TLaserParams P;
  P.Initialize();
  P.DefParams.PWM.Initialize();
  P.DefParams.DA.Initialize();
  P.DefParams.Model = Model;
  P.DefParams.PWM.DiodeCurrent = DiodeCurrent;
  P.LaserType = Type;
  return P;
}

inline TLaserParams TextLaserParams(TEnumLaserType Type, int Port, double DiodeCurrent,
                                    bool Debug = false) {
  TLaserParams P = SerialLaserParams(Type, "TXT-1000", DiodeCurrent);
  TLaserCommParam C;
  C.Initialize();
  C.Comm.CommPort = Port;
  C.Comm.DebugMode = Debug;
  (Type == eltMars     ? P.CfgMars
   : Type == CfgNLight ? P.CfgNLight
   : Type == eltCAS    ? P.CfgCAS
                       : P.CfgQingHua) = C;
  return P;
}

// ShowAnswers: the laser's answers are shown (the comm result is not ignored).
inline TLaserParams RaycusLaserParams(const char* Model, const char* PulseModel, int Port,
                                      double DiodeCurrent = 0.0, bool ShowAnswers = false,
                                      bool Debug = false) {
  TLaserParams P = SerialLaserParams(eltRay, Model, DiodeCurrent);
  P.CfgRay.Initialize();
  P.CfgRay.Comm.CommPort = Port;
  P.CfgRay.Comm.IgnoreCommResult = !ShowAnswers;
  P.CfgRay.DebugMode = Debug;
  if (!Utf8ToTextBuf(PulseModel, P.CfgRay.PulseModel)) {
    throw std::invalid_argument(PulseModel);
  }
  return P;
}

} // namespace nclaser::testing
