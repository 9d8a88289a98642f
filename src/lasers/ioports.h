// Short forms of the machine I/O calls the I/O-driven lasers make. Ports go to the host as
// their low 8 bits; a host without the group (not installed) reads as all off.
#pragma once

#include <cstdint>

#include "host/io.h"

namespace nclaser::ioport {

inline bool OutputExists(std::int32_t Port) {
  return GPOutput != nullptr && GPOutput->GetPortExist(PortByte(Port));
}

inline bool InputExists(std::int32_t Port) {
  return GPInput != nullptr && GPInput->GetPortExist(PortByte(Port));
}

inline void SetOutput(std::int32_t Port, bool Value) {
  if (GPOutput != nullptr) {
    GPOutput->SetOutputbit(PortByte(Port), Value);
  }
}

inline void SetOutputIfExists(std::int32_t Port, bool Value) {
  if (OutputExists(Port)) {
    GPOutput->SetOutputbit(PortByte(Port), Value);
  }
}

inline bool GetOutput(std::int32_t Port) {
  return GPOutput != nullptr && GPOutput->GetOutputBit(PortByte(Port));
}

inline bool GetInput(std::int32_t Port) {
  return GPInput != nullptr && GPInput->GetInputBit(PortByte(Port));
}

inline void SetDA(std::int32_t Port, double Volts) {
  if (GPDA != nullptr) {
    GPDA->SetDAValue(PortByte(Port), Volts);
  }
}

} // namespace nclaser::ioport
