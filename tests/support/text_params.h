// The configuration of a text-protocol laser (Mars, NLight, CAS, QingHua) on one serial
// port, with everything else at its defaults.
#pragma once

#include "params/params.h"

namespace nclaser::testing {

inline TLaserParams TextLaserParams(TEnumLaserType Type, int Port, double DiodeCurrent,
                                    bool Debug = false) {
  TLaserParams P;
  P.Initialize();
  P.DefParams.PWM.Initialize();
  P.DefParams.DA.Initialize();
  P.DefParams.Model = "TXT-1000";
  P.DefParams.PWM.DiodeCurrent = DiodeCurrent;
  P.LaserType = Type;
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

} // namespace nclaser::testing
