// Detection (compare + measure, all 320 zones on) beside a memcpy of one
// frame buffer, for the plain and the fast implementation.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "detect/Detector.h"
#include "detect/MotionDetector.h"

namespace {

struct Frames {
  zv::TPicture prev, cur, diff;
  zv::ZoneGrid grid;
  Frames(int w, int h) : prev(w, h), cur(w, h), diff(w, h) {
    std::mt19937 rng(1);
    for (auto& b : prev.Bytes()) b = static_cast<std::uint8_t>(rng());
    cur = prev;
    // Noise everywhere, real motion in a tenth of the bytes.
    for (std::size_t i = 0; i < cur.SizeBytes(); ++i) {
      int v = cur.Data()[i] + static_cast<int>(rng() % 21) - 10;
      if (rng() % 10 == 0) v += 100;
      cur.Data()[i] = static_cast<std::uint8_t>(v);
    }
    grid.UpdateFrameGeometry(w, h);
    grid.SetAll(true);
  }
};

const char* IsaName(zv::MotionDetector::Isa isa) {
  switch (isa) {
    case zv::MotionDetector::Isa::Scalar:
      return "scalar";
    case zv::MotionDetector::Isa::Sse2:
      return "sse2";
    case zv::MotionDetector::Isa::Avx2:
      return "avx2";
  }
  return "?";
}

// Each instruction set the CPU offers, at one size.
void BM_DetectIsa(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  zv::MotionDetector det(static_cast<zv::MotionDetector::Isa>(state.range(2)));
  if (static_cast<int>(det.isa()) != state.range(2)) {
    state.SkipWithError("not offered by this CPU");
    return;
  }
  state.SetLabel(IsaName(det.isa()));
  for (auto _ : state)
    benchmark::DoNotOptimize(det.CompareAndMeasure(f.prev, f.cur, f.diff, 32, f.grid, 1.2));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(f.prev.SizeBytes()));
}

void SetSize(benchmark::State& state, const Frames& f) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(f.prev.SizeBytes()));
}

void BM_Memcpy(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    std::memcpy(f.diff.Data(), f.cur.Data(), f.cur.SizeBytes());
    benchmark::ClobberMemory();
  }
  SetSize(state, f);
}

void BM_DetectReference(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    zv::CompareFrames(f.prev, f.cur, f.diff, 32);
    benchmark::DoNotOptimize(zv::MeasureChange(f.grid, f.diff, 1.2));
  }
  SetSize(state, f);
}

void BM_DetectFast(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  zv::MotionDetector det;
  state.SetLabel(IsaName(det.isa()));
  for (auto _ : state)
    benchmark::DoNotOptimize(det.CompareAndMeasure(f.prev, f.cur, f.diff, 32, f.grid, 1.2));
  SetSize(state, f);
}

#define ZV_SIZES Args({352, 288})->Args({640, 480})->Args({1920, 1080})
BENCHMARK(BM_Memcpy)->ZV_SIZES;
BENCHMARK(BM_DetectReference)->ZV_SIZES;
BENCHMARK(BM_DetectFast)->ZV_SIZES;
BENCHMARK(BM_DetectIsa)->ArgsProduct({{352}, {288}, {1, 2}})->ArgsProduct({{1920}, {1080}, {1, 2}});

}  // namespace

namespace {
void BM_CompareOnlyFast(benchmark::State& state) {
  Frames f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  zv::MotionDetector det;
  for (auto _ : state) {
    det.CompareFrames(f.prev, f.cur, f.diff, 32);
    benchmark::ClobberMemory();
  }
  SetSize(state, f);
}
BENCHMARK(BM_CompareOnlyFast)->ZV_SIZES;
}  // namespace
BENCHMARK_MAIN();
