// A pseudo-terminal pair standing in for a serial cable: the plug-in opens the near end
// (DevicePath(), through a TCommCtrl), the test or a simulator uses the far end through
// this object. Both ends are in raw mode, so every byte value passes unchanged.
//
// DevicePath() is a symlink in a private temporary folder; it stays the same across
// Unplug()/Replug(), so a port mapped to it can be reopened after the "cable" is back.
//
//   TPtyPair Pty;
//   Host->SerialPorts->Set(1, Pty.DevicePath());
//   ... laser opens COM1 and writes ...
//   auto Got = Pty.Read(5, 500);       // at least 5 bytes within 500 ms
//   Pty.Write("OK\r");
//   Pty.Unplug();                       // the near end sees a hang-up
//   Pty.Replug();
//
// Threads: one thread uses the far end at a time; Unplug/Replug not concurrently with Read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nclaser::testing {

class TPtyPair {
public:
  // Throws std::runtime_error when no pty can be made.
  TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;
  ~TPtyPair();

  // The near end to hand to the serial port (stable across Unplug/Replug).
  const std::string& DevicePath() const { return FLink; }
  // The real /dev/pts/N of the near end while plugged, else empty.
  std::string TtyPath() const;
  // The far end's descriptor (non-blocking; for poll in a simulator); -1 while unplugged.
  int FarFd() const { return FMaster; }
  bool Plugged() const { return FMaster >= 0; }

  // Waits until at least MinCount bytes have arrived or TimeoutMs has passed, then returns
  // all that has arrived (possibly fewer than MinCount, possibly more).
  std::vector<std::uint8_t> Read(size_t MinCount, int TimeoutMs);
  // The same as text.
  std::string ReadText(size_t MinCount, int TimeoutMs);
  // Collects input until Terminator has arrived or the time is up; returns all that came
  // (the terminator included, and anything after it that was already waiting).
  std::string ReadUntil(std::string_view Terminator, int TimeoutMs);
  // Everything arriving within TimeoutMs (useful to prove silence: expect it empty).
  std::vector<std::uint8_t> ReadFor(int TimeoutMs);
  // Writes all bytes to the near end's input; false when unplugged or on failure.
  bool Write(const void* Data, size_t Count);
  bool Write(std::string_view Text) { return Write(Text.data(), Text.size()); }
  bool Write(const std::vector<std::uint8_t>& Bytes) { return Write(Bytes.data(), Bytes.size()); }

  // Pulls the cable: the far end closes (the near end hangs up) and the path disappears.
  void Unplug();
  // A fresh pair behind the same DevicePath().
  void Replug();

private:
  void Plug();

  std::string FDir;
  std::string FLink;
  int FMaster = -1;
  int FSlave = -1; // held open so the far end never reads EIO between near-end opens
  std::string FTty;
};

} // namespace nclaser::testing
