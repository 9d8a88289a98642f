// The exception the plug-in's constructors throw: the laser classes and the drivers below
// them.
#pragma once

#include <stdexcept>

namespace nclaser {

// The exception of a constructor that refuses its configuration; what() is the fixed
// English text ("IPG.LaserType Error Message").
class ELaserError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace nclaser
