// The entry point: binds the plug-in to its host's services and hands out the class table.
#include "plugin/plugin.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "lasers/factory.h"
#include "plugin/select.h"
#include "runtime/threadreap.h"
#include "strings/messages.h"

#ifndef NCLASER_VERSION
#error "NCLASER_VERSION is set by the build"
#endif

namespace nclaser {

namespace {

// How long the last finalisation waits for the lasers' threads to end.
constexpr int KThreadEndTimeoutMs = 10000;

struct TBinding {
  std::mutex Lock;
  int Entries = 0;
  TNcHostServices Services{};
  std::vector<TLaserClassInfo> Infos; // owns the names the table points into
  std::vector<TNcPluginClass> Classes;
  TNcPlugin Table{};
};

TBinding& Binding() {
  static TBinding B;
  return B;
}

void Say(char* Error, std::size_t ErrorSize, const std::string& Text) {
  if (Error != nullptr && ErrorSize > 0) {
    std::snprintf(Error, ErrorSize, "%s", Text.c_str());
  }
}

bool SameServices(const TNcHostServices& A, const TNcHostServices& B) {
  return A.Outputs == B.Outputs && A.Inputs == B.Inputs && A.DA == B.DA && A.PwmPort == B.PwmPort &&
         A.Alarms == B.Alarms && A.App == B.App && A.Semaphores == B.Semaphores && A.Comm == B.Comm;
}

void Install(const TNcHostServices* S) {
  GPOutput = S != nullptr ? S->Outputs : nullptr;
  GPInput = S != nullptr ? S->Inputs : nullptr;
  GPDA = S != nullptr ? S->DA : nullptr;
  GLaserPwmPort = S != nullptr ? S->PwmPort : nullptr;
  NcAlarms = S != nullptr ? S->Alarms : nullptr;
  AppSys = S != nullptr ? S->App : nullptr;
  SemaphoreApi = S != nullptr ? S->Semaphores : nullptr;
  CommFactory = S != nullptr ? S->Comm : nullptr;
  ThreadScheduler = S != nullptr ? S->Scheduler : nullptr;
}

TNcLaser* NewLaser(const TNcPluginClass* Self, TComponent* AOwner, const TLaserParams* AParams,
                   char* Error, std::size_t ErrorSize) {
  try {
    const TLaserClassInfo* Info = Self != nullptr ? FindLaserClass(Self->Name) : nullptr;
    if (Info == nullptr || AParams == nullptr) {
      Say(Error, ErrorSize, "no such laser class, or no configuration record");
      return nullptr;
    }
    return Info->Factory(AOwner, *AParams).release();
  } catch (const std::exception& E) {
    Say(Error, ErrorSize, E.what());
  } catch (...) {
    Say(Error, ErrorSize, "the laser could not be built");
  }
  return nullptr;
}

void FreeLaser(TNcLaser* Laser) {
  TNcLaserDeleter()(Laser);
}

void InitializeParams(TLaserParams* Params, TEnumLaserType LaserType) {
  if (Params != nullptr) {
    InitializeHostDefaults(*Params, LaserType);
  }
}

const TNcPluginClass* DefaultClass(const TLaserParams* Params) {
  const char* Name = Params != nullptr ? DefaultClassName(*Params) : nullptr;
  if (Name == nullptr) {
    return nullptr;
  }
  const auto& C = Binding().Classes;
  const auto It = std::find_if(
      C.begin(), C.end(), [&](const TNcPluginClass& K) { return std::string(K.Name) == Name; });
  return It != C.end() ? &*It : nullptr;
}

void Finalize() {
  auto& B = Binding();
  std::lock_guard<std::mutex> L(B.Lock);
  if (B.Entries == 0 || --B.Entries > 0) {
    return;
  }
  FinalizeDeviceStrs();
  JoinEveryThread(KThreadEndTimeoutMs);
  Install(nullptr);
  B.Classes.clear();
  B.Infos.clear();
}

void BuildTable(TBinding& B) {
  B.Infos = LaserClasses();
  B.Classes.clear();
  for (const auto& I : B.Infos) {
    B.Classes.push_back(
        {I.Name.c_str(), I.ConfigMember(), I.LaserType, I.DefaultFor, &NewLaser, &FreeLaser});
  }
  B.Table = {NcPluginInterfaceVersion, NCLASER_VERSION, B.Classes.size(), B.Classes.data(),
             &InitializeParams,        &DefaultClass,   &Finalize};
}

} // namespace

} // namespace nclaser

using namespace nclaser;

const TNcPlugin* NcLaserPluginEntry(std::uint32_t InterfaceVersion, const TNcHostServices* Services,
                                    char* Error, std::size_t ErrorSize) {
  if (InterfaceVersion != NcPluginInterfaceVersion) {
    Say(Error, ErrorSize,
        "nclaser plug-in " NCLASER_VERSION " speaks interface version " +
            std::to_string(NcPluginInterfaceVersion) + "; the host speaks version " +
            std::to_string(InterfaceVersion));
    return nullptr;
  }
  if (Services == nullptr || Services->Outputs == nullptr || Services->Inputs == nullptr ||
      Services->DA == nullptr || Services->Alarms == nullptr || Services->App == nullptr ||
      Services->Semaphores == nullptr) {
    Say(Error, ErrorSize, "nclaser plug-in: the host left out a required service");
    return nullptr;
  }
  auto& B = Binding();
  std::lock_guard<std::mutex> L(B.Lock);
  if (B.Entries > 0) {
    if (!SameServices(B.Services, *Services)) {
      Say(Error, ErrorSize, "nclaser plug-in: already bound to another host's services");
      return nullptr;
    }
    ++B.Entries;
    return &B.Table;
  }
  B.Services = *Services;
  Install(&B.Services);
  // Initialising the message catalogue registers its locale procedure with the host.
  InitializeDeviceStrs();
  BuildTable(B);
  B.Entries = 1;
  return &B.Table;
}
