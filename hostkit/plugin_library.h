// A plug-in loaded at run time: dlopen, the entry point, the version check both ways, the
// class table, and lasers that go back to the library that made them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "hostkit/host.h"
#include "plugin/plugin.h"

namespace nclaser::hostkit {

// Gives a laser back to its class's Free.
struct TLaserFree {
  void (*Free)(TNcLaser*) = nullptr;
  void operator()(TNcLaser* Laser) const {
    if (Laser != nullptr && Free != nullptr) {
      Free(Laser);
    }
  }
};
using TLaserHandle = std::unique_ptr<TNcLaser, TLaserFree>;

class TPluginLibrary {
public:
  // Loads the library at Path and enters it with Host's services. Throws
  // std::runtime_error with one line naming Path when it cannot be loaded, is no nclaser
  // plug-in, or speaks another interface version (either side refusing).
  TPluginLibrary(const std::string& Path, THost& Host);
  // Enters an entry point the program already has (tests; a plug-in linked in).
  TPluginLibrary(TNcPluginEntry Entry, THost& Host, std::string Name);
  TPluginLibrary(const TPluginLibrary&) = delete;
  TPluginLibrary& operator=(const TPluginLibrary&) = delete;
  // Finalises the plug-in and unloads it. Every laser must have been freed before.
  ~TPluginLibrary();

  const TNcPlugin& Table() const { return *FTable; }
  const TNcPluginClass* Find(std::string_view ClassName) const;
  // Builds a laser of the named class; throws std::runtime_error with the laser's message.
  TLaserHandle NewLaser(std::string_view ClassName, const TLaserParams& Params,
                        TComponent* Owner = nullptr) const;

private:
  void Enter(TNcPluginEntry Entry, THost& Host);

  std::string FName;
  void* FHandle = nullptr;
  const TNcPlugin* FTable = nullptr;
};

} // namespace nclaser::hostkit
