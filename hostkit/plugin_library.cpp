#include "hostkit/plugin_library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace nclaser::hostkit {

TPluginLibrary::TPluginLibrary(const std::string& Path, THost& Host) : FName(Path) {
  // RTLD_LOCAL: two copies of the plug-in (or one linked in) never see each other.
  FHandle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (FHandle == nullptr) {
    const char* Why = dlerror();
    throw std::runtime_error(Why != nullptr ? Why : Path + ": cannot load");
  }
  void* Sym = dlsym(FHandle, NCLASER_PLUGIN_ENTRY);
  if (Sym == nullptr) {
    dlclose(FHandle);
    throw std::runtime_error(Path + ": not an nclaser plug-in (no " NCLASER_PLUGIN_ENTRY ")");
  }
  try {
    Enter(reinterpret_cast<TNcPluginEntry>(Sym), Host);
  } catch (...) {
    dlclose(FHandle);
    throw;
  }
}

TPluginLibrary::TPluginLibrary(TNcPluginEntry Entry, THost& Host, std::string Name)
    : FName(std::move(Name)) {
  Enter(Entry, Host);
}

void TPluginLibrary::Enter(TNcPluginEntry Entry, THost& Host) {
  const TNcHostServices S = Host.Services();
  char Error[512] = "";
  const TNcPlugin* T = Entry(NcPluginInterfaceVersion, &S, Error, sizeof(Error));
  if (T == nullptr) {
    throw std::runtime_error(FName + ": " + Error);
  }
  // Only the first field is known to be where we expect it in another version's table.
  if (T->InterfaceVersion != NcPluginInterfaceVersion) {
    throw std::runtime_error(FName + ": the plug-in speaks interface version " +
                             std::to_string(T->InterfaceVersion) + "; this host speaks version " +
                             std::to_string(NcPluginInterfaceVersion));
  }
  FTable = T;
}

TPluginLibrary::~TPluginLibrary() {
  if (FTable != nullptr) {
    FTable->Finalize();
  }
  if (FHandle != nullptr) {
    dlclose(FHandle);
  }
}

const TNcPluginClass* TPluginLibrary::Find(std::string_view ClassName) const {
  for (std::size_t I = 0; I < FTable->ClassCount; ++I) {
    if (ClassName == FTable->Classes[I].Name) {
      return &FTable->Classes[I];
    }
  }
  return nullptr;
}

TLaserHandle TPluginLibrary::NewLaser(std::string_view ClassName, const TLaserParams& Params,
                                      TComponent* Owner) const {
  const TNcPluginClass* C = Find(ClassName);
  if (C == nullptr) {
    throw std::runtime_error("class " + std::string(ClassName) + " is not in the plug-in " + FName);
  }
  char Error[512] = "";
  TNcLaser* L = C->New(C, Owner, &Params, Error, sizeof(Error));
  if (L == nullptr) {
    throw std::runtime_error(Error);
  }
  return TLaserHandle(L, TLaserFree{C->Free});
}

} // namespace nclaser::hostkit
