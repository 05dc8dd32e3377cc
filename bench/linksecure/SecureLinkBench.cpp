// What the secure link costs: sealing a 352 x 288 picture message at the
// site and opening it at the station straight into the receive assembler,
// against the copy the keyless link makes of it anyway; the cost of a
// command-sized message; and a whole handshake.
//
//   link_secure_bench [benchmark options]
//
// Ends with "summary:" lines for scripts/bench.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "link/Protocol.h"
#include "link/secure/SecureChannel.h"

namespace zv {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kPicture = 304128;  // 352 x 288 at 24 bits

LinkKey Key() {
  std::uint8_t b[LinkKey::kSize];
  for (std::size_t i = 0; i < sizeof b; ++i) b[i] = static_cast<std::uint8_t>(i * 11 + 5);
  return LinkKey::FromBytes(b);
}

// A site and a station with a session between them; the station's
// plaintext goes into a receive assembler as the link would feed it.
struct Pair {
  std::unique_ptr<SecureChannel> site, station;
  LinkAssembler assembler{[this](const LinkMessage&) { ++messages; }};
  long long messages = 0;

  explicit Pair(bool intoAssembler = true) {
    site = std::make_unique<SecureChannel>(7, Key(), ChannelOptions::Network(), 0);
    station = std::make_unique<SecureChannel>(
        [](std::uint32_t) {
          return ObjectKey{true, Key()};
        },
        ChannelOptions::Network(), 0);
    if (intoAssembler) {
      station->PlainRoom = [this](std::size_t n) {
        return n <= assembler.Space() ? std::span<std::uint8_t>(assembler.WritePtr(), n)
                                      : std::span<std::uint8_t>();
      };
      station->PlainCommit = [this](std::size_t n) { assembler.ReceiveBytes(n); };
    }
    station->OnPlain = [this](std::span<std::uint8_t> p) { assembler.Feed(p.data(), p.size()); };
    site->Start(0);
    Move(*site, *station);
    Move(*station, *site);
    Move(*site, *station);
    if (!station->Established()) std::abort();
  }
  // Hands what from sent to to, as one read per record would.
  static void Move(SecureChannel& from, SecureChannel& to) {
    ByteBuffer& out = from.Outbox();
    to.Receive(out.data(), out.size(), 0);
    out.clear();
  }
};

Bytes Picture() {
  Bytes p(kPicture);
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
  return p;
}

// The keyless link copies each picture once from the socket into the
// assembler, and the station once into the camera: that much it costs anyway.
void BM_PictureCopyOnly(benchmark::State& state) {
  const Bytes picture = Picture();
  Bytes into(kPicture);
  for (auto _ : state) {
    std::memcpy(into.data(), picture.data(), picture.size());
    benchmark::DoNotOptimize(into.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(kPicture));
}
BENCHMARK(BM_PictureCopyOnly)->Unit(benchmark::kMicrosecond);

void BM_PictureSeal(benchmark::State& state) {
  Pair pair;
  const Bytes picture = Picture();
  const Bytes header = BuildHeader(kPicture + 19, link::mtPicture, 7, 1, 0xFF, 0);
  for (auto _ : state) {
    pair.site->Seal(header);
    pair.site->Seal(picture);
    benchmark::DoNotOptimize(pair.site->Outbox().data());
    pair.site->Outbox().clear();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(kPicture));
}
BENCHMARK(BM_PictureSeal)->Unit(benchmark::kMicrosecond);

// Sealed at the site, opened at the station into its assembler, handed over.
void BM_PictureSealOpen(benchmark::State& state) {
  Pair pair(state.range(0) != 0);
  const Bytes picture = Picture();
  const Bytes header = BuildHeader(kPicture + 19, link::mtPicture, 7, 1, 0xFF, 0);
  for (auto _ : state) {
    pair.site->Seal(header);
    pair.site->Seal(picture);
    Pair::Move(*pair.site, *pair.station);
  }
  if (pair.messages != static_cast<long long>(state.iterations()))
    state.SkipWithError("a message was lost");
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(kPicture));
}
BENCHMARK(BM_PictureSealOpen)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// A command: what a record costs beyond its bytes.
void BM_CommandSealOpen(benchmark::State& state) {
  Pair pair;
  const Bytes command = BuildCommand(true, 3);
  for (auto _ : state) {
    pair.site->Seal(command);
    Pair::Move(*pair.site, *pair.station);
  }
  if (pair.messages != static_cast<long long>(state.iterations()))
    state.SkipWithError("a message was lost");
}
BENCHMARK(BM_CommandSealOpen)->Unit(benchmark::kMicrosecond);

void BM_Handshake(benchmark::State& state) {
  for (auto _ : state) {
    Pair pair(false);
    benchmark::DoNotOptimize(pair.station.get());
  }
}
BENCHMARK(BM_Handshake)->Unit(benchmark::kMicrosecond);

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> us;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) us[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  double Get(const std::string& name) const {
    const auto it = us.find(name);
    return it == us.end() ? -1.0 : it->second;
  }
};

}  // namespace
}  // namespace zv

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  zv::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double pictureUs = reporter.Get("BM_PictureSealOpen/1");
  const double copyUs = reporter.Get("BM_PictureCopyOnly");
  std::printf("summary: secure_picture_seal_open %.1f us\n", pictureUs);
  std::printf("summary: secure_picture_throughput %.0f MB/s\n",
              pictureUs > 0 ? zv::kPicture / pictureUs : -1.0);
  std::printf("summary: secure_picture_extra %.1f us\n",
              pictureUs > 0 && copyUs > 0 ? pictureUs - copyUs : -1.0);
  std::printf("summary: secure_message_overhead %.2f us\n", reporter.Get("BM_CommandSealOpen"));
  std::printf("summary: secure_handshake %.1f us\n", reporter.Get("BM_Handshake"));
  return 0;
}
