// The secure link's handshake and sealed records, either end, fed what a
// peer (or anyone on the line) might send.
//
// Input: byte 0 chooses the end and the line (bit 0: the site's end, else
// the station's; bit 1: a serial line, else TCP), byte 1 the read size
// (0: all at once); the rest is what arrives.  Both ends draw their nonces
// from fixed generators, so a session recorded with the same generators
// (the seed corpus, fuzz/corpus/secure_link/) replays to its end and
// reaches the sealed records.
//
// Beyond crashes, leaks and hangs it checks: plaintext is handed on only
// once the key was proven; the channel never holds more than its limit;
// the same input gives the same plaintext, faults and output whatever the
// read boundaries.
//
// ZV_SECURE_LINK_SEEDS=DIR fuzz_secure_link -runs=0 writes the seed corpus
// into DIR: recorded sessions of both ends on both kinds of line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/secure/SecureChannel.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zv::ChannelOptions;
using zv::LinkKey;
using zv::ObjectKey;
using zv::SecureChannel;
using zv::SecureFault;

constexpr std::uint32_t kObject = 7;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_secure_link: %s\n", what);
  __builtin_trap();
}

LinkKey KeyOf(std::uint8_t seed) {
  std::uint8_t b[LinkKey::kSize];
  for (std::size_t i = 0; i < sizeof b; ++i) b[i] = static_cast<std::uint8_t>(seed * 13 + i);
  return LinkKey::FromBytes(b);
}

// A fixed generator for each end: the same nonces every run.
std::function<void(std::uint8_t*, std::size_t)> Generator(std::uint32_t seed) {
  auto state = std::make_shared<std::uint32_t>(seed);
  return [state](std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      std::uint32_t& s = *state;
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      p[i] = static_cast<std::uint8_t>(s >> 24);
    }
  };
}

ChannelOptions Options(bool serial, std::uint32_t seed) {
  ChannelOptions o = serial ? ChannelOptions::SerialLine() : ChannelOptions::Network();
  o.random = Generator(seed);
  return o;
}

std::unique_ptr<SecureChannel> MakeEnd(bool site, bool serial, std::uint64_t now) {
  if (site)
    return std::make_unique<SecureChannel>(kObject, KeyOf(1), Options(serial, 0x5173u), now);
  return std::make_unique<SecureChannel>(
      [](std::uint32_t id) {
        if (id == kObject) return ObjectKey{true, KeyOf(1)};
        if (id == 8) return ObjectKey{true, KeyOf(2)};
        if (id == 9) return ObjectKey{true, LinkKey()};
        return ObjectKey{};
      },
      Options(serial, 0x57a7u), now);
}

struct Outcome {
  Bytes plain, out;
  std::vector<SecureFault> faults;
  bool operator==(const Outcome&) const = default;
};

// Feeds data to one end in reads of `read` bytes (0: at once).
Outcome Run(bool site, bool serial, const std::uint8_t* data, std::size_t size, std::size_t read) {
  std::uint64_t now = 1000;
  auto ch = MakeEnd(site, serial, now);
  Outcome o;
  ch->OnPlain = [&](std::span<std::uint8_t> p) {
    if (!ch->Established()) Fail("plaintext before the key was proven");
    o.plain.insert(o.plain.end(), p.begin(), p.end());
  };
  ch->OnFault = [&](SecureFault f, bool) { o.faults.push_back(f); };
  // An established end answers with something sealed.
  ch->OnEstablished = [&] { ch->Seal(Bytes{1, 2, 3}); };
  auto drain = [&] {
    zv::ByteBuffer& b = ch->Outbox();
    o.out.insert(o.out.end(), b.data(), b.data() + b.size());
    b.clear();
  };
  ch->Start(now);
  drain();
  const std::size_t step = read == 0 ? size : read;
  for (std::size_t i = 0; i < size; i += step) {
    const std::size_t n = std::min(step, size - i);
    if (read % 2 == 1) {
      ch->Receive(data + i, n, now);
    } else {
      // Straight into the channel's room, as a socket read does.
      std::size_t done = 0;
      while (done < n) {
        const auto room = ch->ReceiveSpace();
        if (room.empty()) break;
        const std::size_t k = std::min(room.size(), n - done);
        std::memcpy(room.data(), data + i + done, k);
        ch->Received(k, now);
        done += k;
      }
    }
    if (ch->Held() > ch->HeldLimit()) Fail("more held than the limit");
    drain();
  }
  // Deadlines and stalls.
  now += 61000;
  ch->Tick(now);
  drain();
  ch->EndOfInput(now);
  drain();
  return o;
}

// --- the seed corpus: sessions recorded between two real ends

// A framed message of the link: marker, Length, Type, Arg1..Arg4, 0, payload.
Bytes Frame(std::uint8_t type, std::uint8_t arg1, std::uint8_t arg2, std::uint8_t arg3,
            const Bytes& payload) {
  Bytes m{'Z', 'v', 'x', 'C', 'm', 'd'};
  const std::uint32_t length = static_cast<std::uint32_t>(19 + payload.size());
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  m.insert(m.end(), {type, arg1, arg2, arg3, 0, 0, 0, 0, 0});
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

struct Recording {
  Bytes toStation, toSite;
};

Recording Record(bool serial) {
  std::uint64_t now = 1000;
  auto site = MakeEnd(true, serial, now);
  auto station = MakeEnd(false, serial, now);
  Recording r;
  auto pump = [&] {
    for (int round = 0; round < 10; ++round) {
      zv::ByteBuffer& a = site->Outbox();
      zv::ByteBuffer& b = station->Outbox();
      if (a.empty() && b.empty()) return;
      const Bytes up(a.data(), a.data() + a.size()), down(b.data(), b.data() + b.size());
      a.clear();
      b.clear();
      r.toStation.insert(r.toStation.end(), up.begin(), up.end());
      r.toSite.insert(r.toSite.end(), down.begin(), down.end());
      station->Receive(up.data(), up.size(), now);
      site->Receive(down.data(), down.size(), now);
    }
  };
  site->Start(now);
  pump();
  // A small picture message as the sender seals it (header, then payload),
  // a status-only message, and the station's arm and disarm commands.
  Bytes payload(64);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  const Bytes picture = Frame(1, kObject, 1, 0xFF, payload);
  site->Seal(std::span<const std::uint8_t>(picture).first(19));
  site->Seal(std::span<const std::uint8_t>(picture).subspan(19));
  site->Seal(Frame(1, kObject, 1, 0xFF, Bytes{1, 0xFF, 0, 0}));
  station->Seal(Frame(2, 1, 1, 7, {}));
  station->Seal(Frame(3, 1, 1, 7, {}));
  pump();
  return r;
}

void WriteSeed(const std::string& dir, const std::string& name, std::uint8_t mode,
               std::uint8_t read, const Bytes& bytes) {
  std::ofstream f(dir + "/" + name, std::ios::binary);
  f.put(static_cast<char>(mode));
  f.put(static_cast<char>(read));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* dir = std::getenv("ZV_SECURE_LINK_SEEDS");
  if (!dir) return 0;
  for (const bool serial : {false, true}) {
    const Recording r = Record(serial);
    const std::string line = serial ? "serial-" : "tcp-";
    const std::uint8_t mode = serial ? 2 : 0;
    WriteSeed(dir, line + "session-to-station", mode, 0, r.toStation);
    WriteSeed(dir, line + "session-to-station-in-pieces", mode, 7, r.toStation);
    WriteSeed(dir, line + "session-to-site", mode | 1, 0, r.toSite);
  }
  // A keyless peer's first message, and a station's refusal.
  WriteSeed(dir, "plain-peer", 0, 0, Frame(2, 1, 1, 1, {}));
  WriteSeed(dir, "refusal-to-site", 1, 0, zv::BuildRefusal(zv::secure::Refusal::NoKey));
  std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool site = data[0] & 1, serial = data[0] & 2;
  const std::size_t read = data[1];
  data += 2;
  size -= 2;
  const Outcome once = Run(site, serial, data, size, 0);
  if (read > 0 && !(Run(site, serial, data, size, read) == once))
    Fail("the read boundaries changed the outcome");
  return 0;
}
