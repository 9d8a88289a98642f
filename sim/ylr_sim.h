// A simulated IPG YLR laser: the laser's side of the ASCII protocol on a pseudo-terminal or
// a loopback TCP listener (port 10001). It answers every command in the laser's reply form
// (mnemonic, colon, value, CR; "ERR" lines), keeps emission, aiming, diode current and a
// 32-bit status word consistent with what it was told, records each command it received,
// and injects faults on request.
//
// Threads: Start/Stop from one controlling thread; every other call may come from any
// thread while the simulator runs (the state is guarded by one lock).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/ylr/ylr_model.h"

namespace nclaser::sim {

class TYLRSim {
public:
  static constexpr std::uint32_t BitEmission = TYLRModel::BitEmission;
  static constexpr std::uint32_t BitAiming = TYLRModel::BitAiming;
  static constexpr std::uint32_t BitOverheat = TYLRModel::BitOverheat;
  static constexpr std::uint32_t BitBackReflection = TYLRModel::BitBackReflection;
  static constexpr std::uint32_t BitPulseTooShort = TYLRModel::BitPulseTooShort;
  static constexpr std::uint32_t BitAveragePowerTooHigh = TYLRModel::BitAveragePowerTooHigh;

  TYLRSim();
  ~TYLRSim();
  TYLRSim(const TYLRSim&) = delete;
  TYLRSim& operator=(const TYLRSim&) = delete;

  // Opens a pty pair; the laser's side is DevicePath(). False with a reason on failure.
  bool StartPty(std::string* Error = nullptr);
  // Listens on Address:Port (a loopback address; distinct 127.x.y.z let tests run side
  // by side). False with a reason on failure.
  bool StartTcp(const std::string& Address, int Port = 10001, std::string* Error = nullptr);
  // Stops the simulator, closing every descriptor. Idempotent.
  void Stop();
  bool Running() const { return FRunning; }

  std::string DevicePath() const; // the pty's device, empty on TCP
  std::string Address() const;    // "127.0.0.1:10001", empty on a pty

  // ---- State --------------------------------------------------------------------
  std::uint32_t Status() const; // the status word as it answers "STA"
  bool Emission() const;
  bool Aiming() const;
  double DiodeCurrent() const;
  void SetSerialNumber(const std::string& SN);
  // Whether a TCP client is connected right now.
  bool ClientConnected() const;

  // Every command received (without its CR), in order.
  std::vector<std::string> Commands() const;
  void ClearCommands();
  // Waits until Cmd has been received Count times in total; false on time-out.
  bool WaitForCommand(const std::string& Cmd, int TimeoutMs, int Count = 1) const;
  int CountCommand(const std::string& Cmd) const;

  // ---- Faults -------------------------------------------------------------------
  // Sets or clears fault bits in the status word ("RERR" clears them).
  void SetFaultBits(std::uint32_t Bits, bool On = true);
  // Answers every command whose mnemonic is Mnemonic with "ERR: " + Text (empty Text
  // removes the rule).
  void SetErrorReply(const std::string& Mnemonic, const std::string& Text);
  // Never answers (commands are still recorded).
  void SetSilent(bool On);
  // Writes every reply in pieces of ChunkSize bytes, PauseMs apart (0: whole replies).
  void SetSplitReplies(std::size_t ChunkSize, int PauseMs);
  // Holds replies back and writes them as one block with the next reply (several lines
  // in one write).
  void SetJoinReplies(bool On);
  // Echoes "SDC" with this offset added (a laser that does not reach the set point).
  void SetDiodeEchoOffset(double Offset);
  // Writes raw text at once (for example junk without any CR).
  void SendRaw(const std::string& Text);
  // TCP: closes the client connection (the driver sees the peer close) and refuses new
  // connections for DownMs. pty: deaf and silent for DownMs.
  void DropConnection(int DownMs);
  // A pulled cable for DownMs: nothing is answered, the connection is left open without a
  // word (the driver notices only through its ping watchdog), new connections are refused;
  // when the cable is back the dead connection is closed. Unreachable() tells a test's
  // ping stand-in that the laser is gone.
  void PullCable(int DownMs);
  bool Unreachable() const;
  // How many times a TCP client has connected.
  int ConnectCount() const;

private:
  void Run();
  void HandleInput(const char* Data, std::size_t Count);
  void WriteOut(const std::string& Text);
  void WriteAll(const std::string& Text);
  void CloseClient();
  bool OpenListener(std::string* Error);

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::thread FThread;
  std::atomic<bool> FRunning{false};
  std::atomic<bool> FStop{false};

  // Descriptors: the pty master (and a slave kept open so the master never sees a
  // hang-up), or the listener and the one client.
  int FMaster = -1;
  int FSlaveKeep = -1;
  int FListen = -1;
  int FClient = -1;
  std::string FDevicePath;
  std::string FAddress;
  int FPort = 0;
  std::string FBindAddr;

  TYLRModel FModel;
  std::string FHeld;
  std::size_t FChunk = 0;
  int FChunkPauseMs = 0;
  bool FJoin = false;
  double FDownUntilMs = 0.0;
  int FConnects = 0;
  std::string FRaw;
  bool FDropRequested = false;
  bool FCableOut = false;
};

} // namespace nclaser::sim
