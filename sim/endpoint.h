// The shared simulator endpoint: the laser's side of a link on a pseudo-terminal or a
// loopback TCP listener, driving a protocol model, with the faults any link can show.
//
// A make supplies only a model (TSimModel): request bytes in, answer bytes out, no
// descriptor and no thread. The endpoint owns the pty or the listener and its one client,
// the reader thread, the splitting of input into requests (through the model's Split hook),
// a record of every request, and the link faults: silence, garbage, short answers, answers
// split into pieces or held back and sent with the next one, a delay, a dropped and
// restored link, a pulled cable, an unplugged port.
//
//   sim::TSim<sim::TJKModel> Sim;
//   Sim.StartPty();                          // or Sim.StartTcp("127.0.0.9", 5100)
//   Host->SerialPorts->Set(1, Sim.DevicePath());
//   Sim.With([](sim::TJKModel& M) { M.ReportAlarm(0x0102); });
//   Sim.SetSilent(true);
//   Sim.Stop();
//
// Threads: Start/Stop from one controlling thread; every other call may come from any
// thread while the simulator runs. The model is only ever called under the endpoint's lock
// (from the reader thread, or from With), so models need no lock of their own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/commands.h"

namespace nclaser::sim {

using TBytes = std::vector<std::uint8_t>;

TBytes ToBytes(std::string_view Text);
std::string ToText(std::span<const std::uint8_t> Bytes);
// "41 0D" for {0x41, 0x0D}.
std::string HexText(std::span<const std::uint8_t> Bytes);
// Parses "41 0d", "410D" or "0x41,0x0D"; nullopt on anything else.
std::optional<TBytes> ParseHex(std::string_view Text);

// Where the first request in the buffered input lies: Skip bytes of noise before it (the
// endpoint drops and counts them), then Length bytes of request. Length 0: the request is
// not complete yet (the endpoint waits for more bytes, after dropping Skip).
struct TSplit {
  std::size_t Skip = 0;
  std::size_t Length = 0;
};

// The protocol side of a simulated laser. Not thread-safe: the endpoint serialises calls.
class TSimModel {
public:
  virtual ~TSimModel() = default;

  // Delimits the first request of In (see TSplit).
  virtual TSplit Split(std::span<const std::uint8_t> In) = 0;
  // Answers one request (the bytes Split delimited), NowMs on the monotonic clock. An empty
  // result sends nothing.
  virtual TBytes Handle(std::span<const std::uint8_t> Request, double NowMs) = 0;
  // Called every few milliseconds: timed state changes; returned bytes go out unasked.
  virtual TBytes Tick(double /*NowMs*/) { return {}; }
  // The link was dropped or the port unplugged: forget what belongs to the old link.
  virtual void LinkReset() {}
  // A request as the trace and `nclaser sim` show it (hex by default; text makes print
  // the line).
  virtual std::string Describe(std::span<const std::uint8_t> Request) const;

  // The make's own rows of `nclaser sim`'s command table (see sim/commands.h); their
  // handlers act on this model and run under the endpoint's lock.
  virtual TSimCommands Commands() { return {}; }
  // Runs the model's row named Words[0]: nullopt when it has none.
  std::optional<std::string> Command(const std::vector<std::string>& Words) {
    return RunCommand(Commands(), Words);
  }
  // One line of state for `nclaser sim`'s "state" command.
  virtual std::string StateLine() const { return {}; }
};

// Splits Pending (after appending In) into whole requests as the endpoint does, handing
// each to OnRequest in order; noise the model skips is added to Junk. What is left is an
// incomplete request.
void SplitRequests(TSimModel& Model, TBytes& Pending, std::span<const std::uint8_t> In,
                   std::size_t& Junk, const std::function<void(TBytes)>& OnRequest);
// The model without a link, for tests and fuzzing: the answers to In, in order, joined.
TBytes FeedModel(TSimModel& Model, TBytes& Pending, std::span<const std::uint8_t> In, double NowMs);

struct TSimRequest {
  double TimeMs; // on the monotonic clock (NowMs), when the request was complete
  TBytes Bytes;
};

class TSimEndpoint {
public:
  using TTrace = std::function<void(char Direction, std::span<const std::uint8_t> Bytes)>;

  explicit TSimEndpoint(std::unique_ptr<TSimModel> Model);
  virtual ~TSimEndpoint();
  TSimEndpoint(const TSimEndpoint&) = delete;
  TSimEndpoint& operator=(const TSimEndpoint&) = delete;

  // Opens a pty pair; the laser's side is DevicePath(), a symlink that stays the same
  // across Unplug/Replug. False with a reason on failure.
  bool StartPty(std::string* Error = nullptr);
  // Listens on Address:Port (a loopback address; distinct 127.x.y.z let tests run side by
  // side) and serves one client at a time. False with a reason on failure.
  bool StartTcp(const std::string& Address, int Port, std::string* Error = nullptr);
  // Stops the reader thread and closes every descriptor. Idempotent.
  void Stop();
  bool Running() const { return FRunning; }
  bool IsTcp() const;
  std::string DevicePath() const; // empty on TCP
  std::string Address() const;    // "127.0.0.9:5100", empty on a pty
  // DevicePath() or Address().
  std::string Where() const;

  // Runs Fn(model) under the endpoint's lock.
  template <class M, class F> decltype(auto) With(F&& Fn) {
    std::lock_guard<std::mutex> L(FLock);
    return Fn(static_cast<M&>(*FModel));
  }

  // ---- What the laser sent ---------------------------------------------------------
  std::vector<TSimRequest> Requests() const;
  void ClearRequests();
  // The requests received since the last call, in one step: none is lost between reading
  // and clearing.
  std::vector<TSimRequest> TakeRequests();
  // Waits until Pred holds for the requests received so far; false on time-out. Pred runs
  // under the endpoint's lock: it must not call the endpoint.
  bool WaitRequests(const std::function<bool(const std::vector<TSimRequest>&)>& Pred,
                    int TimeoutMs) const;
  // Bytes dropped as noise by the model's Split.
  std::size_t JunkBytes() const;

  // ---- Link faults -----------------------------------------------------------------
  // Requests are still recorded (and followed by the model) but nothing is answered.
  void SetSilent(bool On);
  // Each answer is replaced by as many pseudo-random bytes.
  void SetGarbage(bool On);
  // Only the first Count bytes of each answer go out (0: whole answers).
  void SetTruncate(std::size_t Count);
  // Every answer goes out in pieces of Chunk bytes, PauseMs apart (0: whole answers).
  void SetSplit(std::size_t Chunk, int PauseMs);
  // Each answer is held back and sent in one write with the next one.
  void SetJoin(bool On);
  // Each answer goes out DelayMs after its request (0: at once).
  void SetDelay(int DelayMs);
  // How long until the answers already queued (delayed, or split into paced pieces) have
  // gone out, in ms; 0 when none waits. Split answers queue behind one another, so a slow
  // split outlasts the fault that set it.
  double OutputBacklogMs() const;
  // Writes raw bytes to the laser now.
  void SendRaw(std::span<const std::uint8_t> Bytes);
  // TCP: closes the client connection and refuses new ones for DownMs. pty: the laser
  // hears and answers nothing for DownMs (Unplug hangs the port up). 0 or less: until
  // RestoreLink.
  void DropLink(int DownMs);
  void RestoreLink();
  // A pulled cable for DownMs (0 or less: until RestoreLink): nothing is answered, a TCP
  // connection is left open without a word, new connections are refused; when the cable is
  // back the dead connection is closed. Unreachable() tells a ping stand-in.
  void PullCable(int DownMs);
  bool Unreachable() const;
  // pty only: the laser's port hangs up and the path disappears / comes back.
  void Unplug();
  void Replug();
  bool Plugged() const;
  bool ClientConnected() const;
  int ConnectCount() const;

  void SetTrace(TTrace Trace);

  // One line of `nclaser sim`'s standard input: a row of the endpoint's table (Commands)
  // or else of the model's. Returns the reply; throws std::invalid_argument for a command
  // nobody knows or bad arguments. Defined in sim/commands.cpp.
  std::string Command(const std::string& Line);
  // The endpoint's own rows: the link faults, state, help, quit.
  TSimCommands Commands();
  // The help lines of both tables, the endpoint's first.
  std::vector<std::string> CommandHelp();

private:
  struct TOut {
    double Due;
    TBytes Bytes;
  };
  // Starts the reader thread once the transport is open; returns Opened.
  bool Launch(bool Opened);
  void Run();
  void Wake();
  // The rest runs on the reader thread with FLock held.
  void Apply(double Now);
  void Consume(std::span<const std::uint8_t> Data, double Now);
  void Answer(TBytes Bytes, double Now);
  void Flush(double Now);
  void WriteAll(std::span<const std::uint8_t> Bytes);
  void CloseClient();
  bool OpenListener(std::string* Error);
  bool OpenPty(std::string* Error);
  void ClosePty();
  bool Down(double Now) const;
  bool CableOut(double Now) const;
  std::string StateText();
  // Waits (lock held) until the reader thread has applied a request.
  void Settle(std::unique_lock<std::mutex>& L);

  std::unique_ptr<TSimModel> FModel;
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::thread FThread;
  std::atomic<bool> FRunning{false};
  bool FStop = false;
  int FWake = -1; // eventfd that cuts the reader's poll short

  // Transport, touched only by the reader thread once it runs.
  bool FTcp = false;
  int FMaster = -1;    // pty master
  int FSlaveKeep = -1; // pty slave kept open so the master never sees a hang-up
  int FListen = -1;
  int FClient = -1;
  std::string FDir, FLink;
  std::string FBindAddr;
  int FPort = 0;
  int FConnects = 0;
  // Requests from other threads, applied by the reader thread.
  bool FWantUnplug = false;
  bool FWantReplug = false;
  bool FWantDrop = false;
  std::uint64_t FRequested = 0, FApplied = 0;

  // Input and records.
  TBytes FPending;
  std::vector<TSimRequest> FRequests;
  std::size_t FJunk = 0;

  // Faults.
  bool FSilent = false;
  bool FGarbage = false;
  std::size_t FTruncate = 0;
  std::size_t FChunk = 0;
  int FChunkPauseMs = 0;
  bool FJoin = false;
  int FDelayMs = 0;
  TBytes FHeld;            // an answer held back to go out with the next (join)
  std::vector<TOut> FLate; // answers not yet written, in due order
  double FDownUntil = -1;  // link dropped until then; +inf until RestoreLink
  double FCableUntil = -1; // cable out until then; +inf until RestoreLink
  bool FCableWasOut = false;
  bool FUnplugged = false;
  std::uint32_t FRandom = 0x12345678;
  TTrace FTrace;
};

// The endpoint with its model's type known.
template <class M> class TSim : public TSimEndpoint {
public:
  template <class... A>
  explicit TSim(A&&... Args) : TSimEndpoint(std::make_unique<M>(std::forward<A>(Args)...)) {}
  template <class F> decltype(auto) With(F&& Fn) {
    return TSimEndpoint::With<M>(std::forward<F>(Fn));
  }
};

} // namespace nclaser::sim
