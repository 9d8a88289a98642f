// A host built outside the nclaser tree against its installed files: loads the plug-in
// with dlopen, builds an IPG YLR laser on a serial line that leads to the simulator
// through a relay (which records what the laser sends), switches emission on and off and
// checks the bytes. Usage: consumer SIMULATOR_PTY (the plug-in's path, PLUGIN_FILE, comes
// from the CMake package or from pkg-config when this is built).
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <nclaser/hostkit/host.h>
#include <nclaser/plugin/plugin.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

using namespace nclaser;

namespace {

int Fail(const std::string& Why) {
  std::fprintf(stderr, "consumer: %s\n", Why.c_str());
  return 1;
}

// Bytes both ways between the laser's pty and the simulator's; keeps the laser's.
class TRelay {
public:
  bool Open(const char* SimPath) {
    char Name[128];
    if (openpty(&FMaster, &FSlave, Name, nullptr, nullptr) != 0) {
      return false;
    }
    FLaserPath = Name;
    FSim = open(SimPath, O_RDWR | O_NOCTTY);
    if (FSim < 0) {
      return false;
    }
    termios T{};
    tcgetattr(FSim, &T);
    cfmakeraw(&T);
    tcsetattr(FSim, TCSANOW, &T);
    FThread = std::thread([this] { Run(); });
    return true;
  }
  ~TRelay() {
    FStop = true;
    if (FThread.joinable()) {
      FThread.join();
    }
    for (int Fd : {FMaster, FSlave, FSim}) {
      if (Fd >= 0) {
        close(Fd);
      }
    }
  }
  const std::string& LaserPath() const { return FLaserPath; }
  std::string Sent() {
    std::lock_guard<std::mutex> L(FLock);
    return FSent;
  }

private:
  void Run() {
    char Buf[256];
    while (!FStop) {
      pollfd P[2] = {{FMaster, POLLIN, 0}, {FSim, POLLIN, 0}};
      if (poll(P, 2, 20) <= 0) {
        continue;
      }
      if ((P[0].revents & POLLIN) != 0) {
        const ssize_t N = read(FMaster, Buf, sizeof(Buf));
        if (N > 0) {
          std::lock_guard<std::mutex> L(FLock);
          FSent.append(Buf, static_cast<std::size_t>(N));
          [[maybe_unused]] ssize_t W = write(FSim, Buf, static_cast<std::size_t>(N));
        }
      }
      if ((P[1].revents & POLLIN) != 0) {
        const ssize_t N = read(FSim, Buf, sizeof(Buf));
        if (N > 0) {
          [[maybe_unused]] ssize_t W = write(FMaster, Buf, static_cast<std::size_t>(N));
        }
      }
    }
  }

  int FMaster = -1;
  int FSlave = -1; // kept open so the laser's closing and reopening never hangs us up
  int FSim = -1;
  std::string FLaserPath;
  std::atomic<bool> FStop{false};
  std::thread FThread;
  std::mutex FLock;
  std::string FSent;
};

bool Eventually(const std::function<bool()>& Cond, int Ms = 5000) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  while (std::chrono::steady_clock::now() < End) {
    if (Cond()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void SetText(char16_t (&Buf)[256], const char* Text) {
  std::size_t I = 0;
  for (; Text[I] != '\0' && I < 255; ++I) {
    Buf[I] = static_cast<char16_t>(Text[I]);
  }
  Buf[I] = 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return Fail("usage: consumer SIMULATOR_PTY");
  }
  TRelay Relay;
  if (!Relay.Open(argv[1])) {
    return Fail(std::string("cannot relay to ") + argv[1]);
  }
  hostkit::THost Host;
  Host.SerialPorts->Set(1, Relay.LaserPath());

  void* Lib = dlopen(PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
  if (Lib == nullptr) {
    return Fail(dlerror());
  }
  const auto Entry = reinterpret_cast<TNcPluginEntry>(dlsym(Lib, NCLASER_PLUGIN_ENTRY));
  if (Entry == nullptr) {
    return Fail("no entry point");
  }
  const TNcHostServices Services = Host.Services();
  char Error[256] = "";
  const TNcPlugin* Plugin = Entry(NcPluginInterfaceVersion, &Services, Error, sizeof(Error));
  if (Plugin == nullptr || Plugin->InterfaceVersion != NcPluginInterfaceVersion) {
    return Fail(std::string("refused: ") + Error);
  }
  std::printf("plug-in %s, %zu classes\n", Plugin->PluginVersion, Plugin->ClassCount);

  TLaserParams P;
  Plugin->InitializeParams(&P, eltIPG);
  P.DefParams.Model = "YLR-500";
  P.CfgIPG.IPGType = ltYLRComm;
  P.CfgIPG.YLR.Comm.CommPort = 1;
  SetText(P.CfgIPG.YLR.Comm.CommSettings, "57600,n,8,1");
  const TNcPluginClass* Class = Plugin->DefaultClass(&P);
  if (Class == nullptr) {
    return Fail("no class for eltIPG + ltYLRComm");
  }
  TNcLaser* Laser = Class->New(Class, nullptr, &P, Error, sizeof(Error));
  if (Laser == nullptr) {
    return Fail(std::string(Class->Name) + ": " + Error);
  }
  Laser->RegisterAlarms();
  int Rc = 0;
  Laser->LaserOn();
  Laser->EmissionOn();
  if (!Eventually([&] { return Laser->GetIsEmissionOn(); })) {
    Rc = Fail("emission did not come on");
  }
  Laser->EmissionOff();
  if (!Eventually([&] { return !Laser->GetIsEmissionOn(); })) {
    Rc = Fail("emission did not go off");
  }
  Laser->LaserOff();
  const std::string ClassName = Class->Name; // the table goes with Finalize
  Class->Free(Laser);
  Plugin->Finalize();
  dlclose(Lib);

  const std::string Sent = Relay.Sent();
  const auto On = Sent.rfind("EMON\r");
  const auto Off = Sent.rfind("EMOFF\r");
  if (On == std::string::npos || Off == std::string::npos || Off < On) {
    Rc = Fail("the laser did not send EMON then EMOFF; it sent: " + Sent);
  }
  std::printf("%s: EMON at byte %zu, EMOFF at byte %zu of %zu\n", ClassName.c_str(), On, Off,
              Sent.size());
  return Rc;
}
