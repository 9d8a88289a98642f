// A loopback TCP server standing in for a networked laser, one client at a time. Give each
// test its own 127.x.y.z address so that tests run in parallel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nclaser::testing {

class TTcpListener {
public:
  // Listens at once (port 0: any free port, see Port()); Backlog is the accept queue's
  // length as listen() takes it. Throws std::runtime_error when it cannot listen.
  TTcpListener(std::string Address, std::uint16_t Port, int Backlog = 8);
  TTcpListener(const TTcpListener&) = delete;
  TTcpListener& operator=(const TTcpListener&) = delete;
  ~TTcpListener();

  std::uint16_t Port() const { return FPort; }
  // Listens again on the same address and port; false when that fails.
  bool Listen();
  // Closes the listening socket (new connects are refused at once); an accepted client stays.
  void StopListening();

  // Waits up to TimeoutMs for a client and makes it the current connection (a previous
  // one is dropped). False when none came.
  bool Accept(int TimeoutMs);

  // Waits until at least MinCount bytes have arrived (SIZE_MAX: until the end of the
  // stream) or TimeoutMs has passed; returns all that arrived. PeerClosed() tells whether
  // the client closed its end.
  std::vector<std::uint8_t> Read(size_t MinCount, int TimeoutMs);
  // True once a read found the client's end closed.
  bool PeerClosed() const { return FPeerClosed; }
  // Sends every byte to the current client; false without one or on failure.
  bool Write(const void* Data, size_t Count);
  bool Write(std::string_view Text) { return Write(Text.data(), Text.size()); }
  bool Write(const std::vector<std::uint8_t>& Bytes) { return Write(Bytes.data(), Bytes.size()); }
  // Closes the current connection (an orderly close the client sees as end of stream);
  // with Reset, an abortive one (the client sees a connection reset).
  void Drop(bool Reset = false);

private:
  std::string FAddress;
  std::uint16_t FPort;
  int FBacklog;
  int FListen = -1;
  int FClient = -1;
  bool FPeerClosed = false;
};

// Connections that a listener never accepts, until its accept queue is full and new
// handshakes go unanswered (as behind a firewall that drops them). Closes them all at the
// end.
class TBacklogFiller {
public:
  TBacklogFiller() = default;
  TBacklogFiller(const TBacklogFiller&) = delete;
  TBacklogFiller& operator=(const TBacklogFiller&) = delete;
  ~TBacklogFiller();
  // True once a handshake to Address:Port stays unanswered.
  bool Fill(const std::string& Address, std::uint16_t Port);

private:
  std::vector<int> FFds;
};

} // namespace nclaser::testing
