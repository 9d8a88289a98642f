#include "plugin/select.h"

#include "lasers/factory.h"

namespace nclaser {

const char* DefaultClassName(const TLaserParams& Params) {
  const TLaserClassInfo* C = DefaultLaserClass(Params);
  return C != nullptr ? C->Name.c_str() : nullptr;
}

} // namespace nclaser
