// The per-frame work of video input at the grab rate: the emulated camera's
// synthetic scene, the bottom-up copy a V4L2 frame goes through, and the
// copy into a camera's current picture.
#include <benchmark/benchmark.h>

#include <vector>

#include "app/Picture.h"
#include "platform/Capture.h"
#include "platform/Clock.h"
#include "video/EmulatedCamera.h"

namespace {

void BM_EmulatedSceneGrab(benchmark::State& state) {
  zv::SystemClock clock;
  zv::EmulatedCamera cam(clock);
  cam.Connect(0);
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  cam.SetFormat(zv::CaptureFormat{w, h, 24, 0});
  zv::TPicture pic(w, h);
  for (auto _ : state) {
    cam.Grab(zv::CaptureTarget{pic.Data(), w, h, pic.Stride()});
    benchmark::DoNotOptimize(pic.Data());
  }
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                          static_cast<long long>(pic.SizeBytes()));
}
BENCHMARK(BM_EmulatedSceneGrab)->Args({352, 288})->Args({640, 480});

void BM_TopDownToBottomUp(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  std::vector<std::uint8_t> device(static_cast<std::size_t>(w) * h * 3, 7);
  zv::TPicture pic(w, h);
  for (auto _ : state) {
    zv::CopyTopDownBgr(device.data(), w * 3, zv::CaptureTarget{pic.Data(), w, h, pic.Stride()});
    benchmark::DoNotOptimize(pic.Data());
  }
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                          static_cast<long long>(pic.SizeBytes()));
}
BENCHMARK(BM_TopDownToBottomUp)->Args({352, 288})->Args({640, 480});

void BM_CopyIntoCurrentPicture(benchmark::State& state) {
  zv::TPicture frame(352, 288), current(352, 288);
  for (auto _ : state) {
    current = frame;
    benchmark::DoNotOptimize(current.Data());
  }
}
BENCHMARK(BM_CopyIntoCurrentPicture);

}  // namespace

BENCHMARK_MAIN();
