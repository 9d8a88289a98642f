// Feeds arbitrary bytes, cut into arbitrary pieces, to the YLR reply analysis: the line
// splitter with its carry-over and overflow rule, the line classifier and the parameter,
// status and number parsers. Checks the buffer invariants after every piece.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocols/ylr.h"
#include "runtime/format1033.h"

using namespace nclaser;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) {
    return 0;
  }
  // The first byte seeds the piece lengths; the rest is the received stream.
  unsigned Seed = Data[0];
  const std::string Stream = ylr::AsciiDecode(Data + 1, Size - 1);
  std::string Buf;
  std::size_t Pos = 0;
  std::size_t LinesSeen = 0;
  std::size_t CrSeen = 0;
  while (Pos < Stream.size()) {
    Seed = Seed * 1103515245U + 12345U;
    const std::size_t Piece = 1 + (Seed >> 16) % 700;
    const std::string_view Text = std::string_view(Stream).substr(Pos, Piece);
    Pos += Text.size();
    const std::size_t Before = Buf.size();
    const ylr::TSplitResult R = ylr::SplitResponse(Buf, Text);
    std::size_t Crs = 0;
    for (const char C : Text) {
      Crs += C == ylr::CR ? 1 : 0;
    }
    CrSeen += Crs;
    LinesSeen += R.Lines.size();
    if (R.Lines.size() != Crs) {
      std::abort(); // every CR ends exactly one line
    }
    if (Buf.find(ylr::CR) != std::string::npos || Buf.size() > ylr::MaxResponseBuf) {
      std::abort(); // only an incomplete line of bounded length is carried over
    }
    if (R.Overflow != (Before + Text.size() > ylr::MaxResponseBuf)) {
      std::abort();
    }
    for (const std::string& Line : R.Lines) {
      switch (ylr::ClassifyLine(Line)) {
      case ylr::TLineKind::Status:
        (void)ylr::ParseStatus(ylr::ExtractParam(Line));
        break;
      case ylr::TLineKind::DiodeCurrent: {
        double V = 0.0;
        (void)TryStrToFloat1033(ylr::ExtractParam(Line), V);
        break;
      }
      default:
        (void)ylr::ParseInt32(ylr::ExtractParam(Line));
        break;
      }
      (void)ylr::ShowCR(Line);
    }
  }
  if (LinesSeen != CrSeen) {
    std::abort();
  }
  const std::uint32_t Status =
      Size >= 5 ? (std::uint32_t{Data[1]} << 24 | Data[2] << 16 | Data[3] << 8 | Data[4]) : 0;
  (void)ylr::AlarmDescription(Status);
  (void)ylr::GetStatusBit(Status, static_cast<std::int8_t>(Data[0]));
  return 0;
}
