// Feeds an arbitrary TCP byte stream, cut into arbitrary reads, to the YLS frame
// reassembly and every frame it hands on to the answer check and the record decoders: no
// input may crash them, no byte may be handed on twice or lost from the count, and the
// frames must not depend on how the stream was cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "protocols/yls.h"

namespace {

using nclaser::yls::TBytes;

void Check(bool Ok) {
  if (!Ok) {
    std::abort();
  }
}

std::vector<TBytes> FeedAll(const nclaser::yls::TCrc16& Crc, std::span<const std::uint8_t> In,
                            std::span<const std::uint8_t> Cuts, std::size_t& Skipped,
                            std::size_t& Pending) {
  nclaser::yls::TFrameAssembler A(Crc);
  std::vector<TBytes> Frames;
  std::size_t Pos = 0;
  std::size_t Cut = 0;
  while (Pos < In.size()) {
    std::size_t N = Cuts.empty() ? In.size() : 1 + Cuts[Cut++ % Cuts.size()];
    N = N > In.size() - Pos ? In.size() - Pos : N;
    for (TBytes& F : A.Feed(In.subspan(Pos, N))) {
      Frames.push_back(std::move(F));
    }
    Pos += N;
  }
  Skipped = A.Skipped();
  Pending = A.Pending();
  return Frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) {
    return 0;
  }
  // The first byte tells how many of the following bytes give the read sizes.
  const std::size_t NCuts = Data[0] % 8 < Size - 1 ? Data[0] % 8 : Size - 1;
  const std::span<const std::uint8_t> Cuts(Data + 1, NCuts);
  const std::span<const std::uint8_t> In(Data + 1 + NCuts, Size - 1 - NCuts);
  static const nclaser::yls::TCrc16 Crc;

  std::size_t Skipped = 0;
  std::size_t Pending = 0;
  const std::vector<TBytes> Frames = FeedAll(Crc, In, Cuts, Skipped, Pending);
  std::size_t Taken = 0;
  for (const TBytes& F : Frames) {
    Taken += F.size();
    nclaser::yls::TAnswerHeader H;
    const nclaser::yls::TCheck Result = nclaser::yls::CheckAnswer(Crc, F, H);
    // A wrong-CRC answer where a frame belongs is handed on whole, for the analysis to
    // reject; nothing else may fail the check.
    Check(Result == nclaser::yls::TCheck::Ok || Result == nclaser::yls::TCheck::CrcError);
    if (Result != nclaser::yls::TCheck::Ok) {
      continue;
    }
    Check(F.size() == H.Datasize + nclaser::yls::FrameOverhead);
    const std::span<const std::uint8_t> Body(F.data() + nclaser::yls::HeaderSize, H.Datasize);
    nclaser::yls::TLaserID Id{};
    nclaser::yls::TLaserData D{};
    nclaser::yls::TTimeData T{};
    nclaser::yls::TDewPointData P{};
    if (nclaser::yls::DecodeLaserID(Body, Id)) {
      Check(nclaser::yls::SerialNumberText(Id).size() <= 32);
    }
    if (nclaser::yls::DecodeLaserData(Body, D)) {
      // Encoding what was decoded gives the bytes back.
      Check(nclaser::yls::EncodeLaserData(D, Body.size()) == TBytes(Body.begin(), Body.end()));
      (void)nclaser::yls::HasAlarm(nclaser::yls::StatusWords(D));
    }
    (void)nclaser::yls::DecodeTimeData(Body, T);
    (void)nclaser::yls::DecodeDewPointData(Body, P);
  }
  Check(Taken + Skipped + Pending == In.size());

  // The same stream in one read gives the same frames.
  std::size_t Skipped1 = 0;
  std::size_t Pending1 = 0;
  Check(FeedAll(Crc, In, {}, Skipped1, Pending1) == Frames);
  Check(Skipped1 == Skipped && Pending1 == Pending);
  return 0;
}
