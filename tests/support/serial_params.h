// The record of a serial laser on one port, as the simulator table's rig for its class
// gives it, with everything else at the host's defaults.
#pragma once

#include <stdexcept>
#include <string>

#include "params/params.h"
#include "params/textbuf.h"
#include "sim/table.h"

namespace nclaser::testing {

// Rig's record on serial port Port (0: none), with the laser's model name and the set point
// at the start.
inline TLaserParams RigLaserParams(const std::string& Rig, const char* Model, double DiodeCurrent,
                                   int Port = 1) {
  const sim::TSimRig* R = sim::FindRig(Rig);
  if (R == nullptr) {
    throw std::invalid_argument("no rig " + Rig);
  }
  TLaserParams P = sim::RigParams(*R, {false, Port, "", 0});
  P.DefParams.Model = Model;
  P.DefParams.PWM.DiodeCurrent = DiodeCurrent;
  return P;
}

// A text-protocol make's record (rig "mars", "nlight", "cas" or "qinghua").
inline TLaserParams TextLaserParams(const std::string& Rig, int Port, double DiodeCurrent,
                                    bool Debug = false) {
  TLaserParams P = RigLaserParams(Rig, "TXT-1000", DiodeCurrent, Port);
  (P.LaserType == eltMars     ? P.CfgMars
   : P.LaserType == CfgNLight ? P.CfgNLight
   : P.LaserType == eltCAS    ? P.CfgCAS
                              : P.CfgQingHua)
      .Comm.DebugMode = Debug;
  return P;
}

// A Raycus record (rig "raycus" or "raycus-qcw"). ShowAnswers: the laser's answers are shown
// (the comm result is not ignored).
inline TLaserParams RaycusLaserParams(const std::string& Rig, const char* Model,
                                      const char* PulseModel, int Port, double DiodeCurrent = 0.0,
                                      bool ShowAnswers = false, bool Debug = false) {
  TLaserParams P = RigLaserParams(Rig, Model, DiodeCurrent, Port);
  P.CfgRay.Comm.IgnoreCommResult = !ShowAnswers;
  P.CfgRay.DebugMode = Debug;
  if (!Utf8ToTextBuf(PulseModel, P.CfgRay.PulseModel)) {
    throw std::invalid_argument(PulseModel);
  }
  return P;
}

} // namespace nclaser::testing
