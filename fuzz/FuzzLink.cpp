// The link's receive assembler, fed the bytes a peer could send.
//
// Mode 0: any byte stream.  The messages found must be the same whether the
// bytes come at once, in pieces of any size (through the socket handlers'
// path: WritePtr and ReceiveBytes), or partly while a handler is still
// running (a handler that lets events run).  Every message handed over must
// be whole: marker, Length in range, payload and trailer where they belong.
//
// Mode 1: messages built with the sender's own functions, with noise
// between them that holds no marker, come out exactly as built.
#include <cstring>
#include <functional>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "link/Protocol.h"

namespace {

using zv::LinkAssembler;
using zv::LinkMessage;
using zv::fuzz::Check;

struct Seen {
  std::int32_t length;
  std::uint8_t type, a1, a2, a3, a4;
  std::uint32_t trailer;
  std::vector<std::uint8_t> payload;
  bool operator==(const Seen&) const = default;
};

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

Seen Take(const LinkMessage& m) {
  Check(m.Length >= zv::link::kMinLength && m.Length <= zv::link::kMaxLength, "Length in range");
  Check(m.PayloadSize == static_cast<std::size_t>(m.Length) - zv::link::kHeaderSize,
        "payload size follows Length");
  // The header lies right before the payload.
  const std::uint8_t* header = m.Payload - zv::link::kHeaderSize;
  Check(std::memcmp(header, "ZvxCmd", 6) == 0, "message starts with its marker");
  Check(static_cast<std::int32_t>(Le32(header + 6)) == m.Length, "Length as sent");
  Check(m.Trailer == Le32(header + m.Length - 4), "trailer is the last four bytes");
  return {
      m.Length, m.Type, m.Arg1,    m.Arg2,
      m.Arg3,   m.Arg4, m.Trailer, std::vector<std::uint8_t>(m.Payload, m.Payload + m.PayloadSize)};
}

// The assemblers live as long as the process (their 2 MB buffers are not
// made anew for every input) and are reset before each use, as for a new
// connection; the handler of the moment is called through Handler().
std::function<void(const LinkMessage&)>& Handler(int i) {
  static std::function<void(const LinkMessage&)> h[2];
  return h[i];
}
LinkAssembler& Assembler(int i) {
  static LinkAssembler a[2] = {LinkAssembler([](const LinkMessage& m) { Handler(0)(m); }),
                               LinkAssembler([](const LinkMessage& m) { Handler(1)(m); })};
  a[i].Reset();
  return a[i];
}

std::vector<Seen> AtOnce(const std::vector<std::uint8_t>& bytes) {
  std::vector<Seen> seen;
  Handler(0) = [&](const LinkMessage& m) { seen.push_back(Take(m)); };
  LinkAssembler& a = Assembler(0);
  const long long before = a.Handled();
  a.Feed(bytes.data(), bytes.size());
  Check(a.Handled() - before == static_cast<long long>(seen.size()), "every message counted");
  return seen;
}

// As the socket handlers do: never more than the room, straight into the buffer.
std::vector<Seen> InPieces(const std::vector<std::uint8_t>& bytes, std::uint32_t seed) {
  std::vector<Seen> seen;
  Handler(1) = [&](const LinkMessage& m) { seen.push_back(Take(m)); };
  LinkAssembler& a = Assembler(1);
  zv::fuzz::Pieces pieces(seed);
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t n = std::min(pieces.Length(bytes.size() - at), a.Space());
    Check(n > 0, "the assembler always leaves room");
    std::memcpy(a.WritePtr(), bytes.data() + at, n);
    a.ReceiveBytes(n);
    at += n;
    Check(a.Held() <= zv::link::kReceiveBufferSize, "held bytes fit the buffer");
  }
  return seen;
}

// Pieces that arrive while a message is being handled.
std::vector<Seen> WhileHandling(const std::vector<std::uint8_t>& bytes, std::uint32_t seed) {
  std::vector<Seen> seen;
  zv::fuzz::Pieces pieces(seed ^ 0x5A5A5A5Au);
  std::size_t at = 0;
  LinkAssembler& a = Assembler(1);
  auto next = [&] {
    const std::size_t from = at, n = pieces.Length(bytes.size() - at);
    at += n;  // before feeding: the handler may take the next piece
    a.Feed(bytes.data() + from, n);
  };
  Handler(1) = [&](const LinkMessage& m) {
    seen.push_back(Take(m));
    if (at < bytes.size() && (pieces.Next() & 1)) next();
  };
  while (at < bytes.size()) next();
  return seen;
}

void Stream(zv::fuzz::Input& in) {
  const std::uint32_t seed = in.U32();
  const std::vector<std::uint8_t> bytes = in.Rest();
  const auto once = AtOnce(bytes);
  Check(InPieces(bytes, seed) == once, "same messages when the bytes come in pieces");
  Check(WhileHandling(bytes, seed) == once, "same messages when bytes come during a handler");
}

void RoundTrip(zv::fuzz::Input& in) {
  const std::uint32_t seed = in.U32();
  std::vector<std::uint8_t> stream;
  std::vector<Seen> sent;
  while (in.Left() > 0) {
    std::vector<std::uint8_t> noise = in.Bytes(in.Byte() % 16);
    for (auto& b : noise)
      if (b == 'Z') b = 'z';  // no marker can start in the noise
    stream.insert(stream.end(), noise.begin(), noise.end());
    const std::uint8_t kind = in.Byte();
    std::vector<std::uint8_t> msg;
    if (kind % 4 == 0) {
      const int index = in.Byte();
      msg = zv::BuildCommand(kind & 4, index);
      Check(msg.size() == zv::link::kHeaderSize, "a command is a bare header");
      Check(msg[10] == ((kind & 4) ? zv::link::mtArm : zv::link::mtDisarm), "command type");
      Check(msg[13] == static_cast<std::uint8_t>(index + 1), "command names the list position");
    } else {
      const std::uint8_t type = in.Byte(), a1 = in.Byte(), a2 = in.Byte(), a3 = in.Byte(),
                         a4 = in.Byte();
      const std::vector<std::uint8_t> payload = in.Bytes(in.U16() % 4096);
      msg = zv::BuildHeader(static_cast<std::int32_t>(payload.size() + zv::link::kHeaderSize), type,
                            a1, a2, a3, a4);
      msg.insert(msg.end(), payload.begin(), payload.end());
    }
    const auto len = static_cast<std::int32_t>(msg.size());
    sent.push_back({len, msg[10], msg[11], msg[12], msg[13], msg[14], Le32(msg.data() + len - 4),
                    std::vector<std::uint8_t>(msg.begin() + zv::link::kHeaderSize, msg.end())});
    stream.insert(stream.end(), msg.begin(), msg.end());
  }
  Check(InPieces(stream, seed) == sent, "built messages come out as built");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Under 2,000,000 bytes the garbage rule never applies, so the result may
  // not depend on read boundaries.
  if (size > 1000000) return 0;
  zv::fuzz::Input in(data, size);
  if (in.Byte() & 1)
    RoundTrip(in);
  else
    Stream(in);
  return 0;
}
