// A communication factory that tells a listener what the lasers write, stamped on the
// laser's side of the link just before the write leaves. A reader on the far side (a
// simulator's thread starved of the processor) may read late; these stamps do not move
// with it, so timing and ordering judged on them are the laser's own.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "host/comm.h"

namespace nclaser::hostkit {

class TLinkTap {
public:
  virtual ~TLinkTap() = default;
  // Link: "com:N" for serial port N, "tcp:HOST" for a TCP peer. A port was opened or a
  // connection made: what was half written on the old one is gone.
  virtual void Opened(const std::string& /*Link*/) {}
  // Called before Bytes go out; AtMs on the monotonic clock (NowMs). A write the port then
  // refuses is still told: the laser meant it.
  virtual void Writing(const std::string& Link, double AtMs,
                       std::span<const std::uint8_t> Bytes) = 0;
};

class TTapCommFactory : public TCommFactory {
public:
  TTapCommFactory(std::unique_ptr<TCommFactory> Inner, std::shared_ptr<TLinkTap> Tap)
      : FInner(std::move(Inner)), FTap(std::move(Tap)) {}
  std::unique_ptr<TCommCtrl> NewCommCtrl() override;
  std::unique_ptr<TKdTcpClient> NewTcpClient() override;
  std::unique_ptr<TIcmpClient> NewIcmpClient() override { return FInner->NewIcmpClient(); }

private:
  std::unique_ptr<TCommFactory> FInner;
  std::shared_ptr<TLinkTap> FTap;
};

} // namespace nclaser::hostkit
