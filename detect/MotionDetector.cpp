#include "detect/MotionDetector.h"

#include <bit>
#include <cstring>

#include "detect/Detector.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZV_X86 1
#endif

namespace zv {
namespace {

// The filter as the byte loop applies it: a difference byte d survives when
// |d| >= t, with |d| taken as min(d, 256 - d) (so -128 counts as 128).
// Filters 1..127 give t = filter; 0 and 128..255 filter nothing but zeros,
// which is t = 1.
std::uint8_t EffectiveThreshold(std::uint8_t filter) {
  return (filter >= 1 && filter <= 127) ? filter : 1;
}

inline std::uint8_t ScalarByte(std::uint8_t p, std::uint8_t c, std::uint8_t t, bool& nonZero) {
  const std::uint8_t d = static_cast<std::uint8_t>(p - c);
  const std::uint8_t neg = static_cast<std::uint8_t>(0 - d);
  const std::uint8_t a = d < neg ? d : neg;
  nonZero = a >= t;
  return nonZero ? d : 0;
}

// Compares bytes [from, n) one at a time; mask bits are ORed in.
void ScalarRange(const std::uint8_t* p, const std::uint8_t* c, std::uint8_t* out, std::size_t from,
                 std::size_t n, std::uint8_t t, std::uint64_t* mask) {
  for (std::size_t i = from; i < n; ++i) {
    bool nz;
    out[i] = ScalarByte(p[i], c[i], t, nz);
    if (mask && nz) mask[i >> 6] |= std::uint64_t{1} << (i & 63);
  }
}

#ifdef ZV_X86
// 64 bytes per step, returns the non-zero bits of the step's output.
inline std::uint64_t Sse2Block(const std::uint8_t* p, const std::uint8_t* c, std::uint8_t* out,
                               __m128i t) {
  std::uint64_t bits = 0;
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < 4; ++k) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * k));
    const __m128i d = _mm_sub_epi8(a, b);
    const __m128i mag = _mm_min_epu8(d, _mm_sub_epi8(zero, d));
    const __m128i keep = _mm_cmpeq_epi8(_mm_max_epu8(mag, t), mag);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * k), _mm_and_si128(d, keep));
    bits |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(keep)))
            << (16 * k);
  }
  return bits;
}

std::size_t Sse2Range(const std::uint8_t* p, const std::uint8_t* c, std::uint8_t* out,
                      std::size_t n, std::uint8_t thr, std::uint64_t* mask) {
  const __m128i t = _mm_set1_epi8(static_cast<char>(thr));
  const std::size_t blocks = n / 64;
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::uint64_t bits = Sse2Block(p + 64 * b, c + 64 * b, out + 64 * b, t);
    if (mask) mask[b] = bits;
  }
  return blocks * 64;
}

__attribute__((target("avx2"))) std::size_t Avx2Range(const std::uint8_t* p, const std::uint8_t* c,
                                                      std::uint8_t* out, std::size_t n,
                                                      std::uint8_t thr, std::uint64_t* mask) {
  const __m256i t = _mm256_set1_epi8(static_cast<char>(thr));
  const __m256i zero = _mm256_setzero_si256();
  const std::size_t blocks = n / 64;
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t o = 64 * b;
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + o));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + o));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + o + 32));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + o + 32));
    const __m256i d0 = _mm256_sub_epi8(a0, b0);
    const __m256i d1 = _mm256_sub_epi8(a1, b1);
    const __m256i m0 = _mm256_min_epu8(d0, _mm256_sub_epi8(zero, d0));
    const __m256i m1 = _mm256_min_epu8(d1, _mm256_sub_epi8(zero, d1));
    const __m256i k0 = _mm256_cmpeq_epi8(_mm256_max_epu8(m0, t), m0);
    const __m256i k1 = _mm256_cmpeq_epi8(_mm256_max_epu8(m1, t), m1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), _mm256_and_si256(d0, k0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o + 32), _mm256_and_si256(d1, k1));
    if (mask) {
      const std::uint64_t lo = static_cast<std::uint32_t>(_mm256_movemask_epi8(k0));
      const std::uint64_t hi = static_cast<std::uint32_t>(_mm256_movemask_epi8(k1));
      mask[b] = lo | (hi << 32);
    }
  }
  return blocks * 64;
}

// Row kernels of the fused pass: compare len bytes (whole vectors only),
// write the difference and add 1 to acc0[i] / acc1[i] for every non-zero
// difference byte.  Return the number of bytes done.
template <bool kA0, bool kA1>
__attribute__((target("avx2"))) std::size_t Avx2Row(const std::uint8_t* p, const std::uint8_t* c,
                                                    std::uint8_t* out, std::size_t len,
                                                    std::uint8_t thr, std::uint8_t* acc0,
                                                    std::uint8_t* acc1) {
  // |d| >= t  <=>  d + (t - 1) >= 2t - 1, as unsigned bytes (1 <= t <= 127).
  const __m256i bias = _mm256_set1_epi8(static_cast<char>(thr - 1));
  const __m256i limit = _mm256_set1_epi8(static_cast<char>(2 * thr - 1));
  std::size_t i = 0;
  for (; i + 32 <= len; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + i));
    const __m256i d = _mm256_sub_epi8(a, b);
    const __m256i x = _mm256_add_epi8(d, bias);
    const __m256i k = _mm256_cmpeq_epi8(_mm256_max_epu8(x, limit), x);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_and_si256(d, k));
    if constexpr (kA0) {
      __m256i* q = reinterpret_cast<__m256i*>(acc0 + i);
      _mm256_storeu_si256(q, _mm256_sub_epi8(_mm256_loadu_si256(q), k));
    }
    if constexpr (kA1) {
      __m256i* q = reinterpret_cast<__m256i*>(acc1 + i);
      _mm256_storeu_si256(q, _mm256_sub_epi8(_mm256_loadu_si256(q), k));
    }
  }
  return i;
}

template <bool kA0, bool kA1>
std::size_t Sse2Row(const std::uint8_t* p, const std::uint8_t* c, std::uint8_t* out,
                    std::size_t len, std::uint8_t thr, std::uint8_t* acc0, std::uint8_t* acc1) {
  const __m128i t = _mm_set1_epi8(static_cast<char>(thr));
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  for (; i + 16 <= len; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
    const __m128i d = _mm_sub_epi8(a, b);
    const __m128i m = _mm_min_epu8(d, _mm_sub_epi8(zero, d));
    const __m128i k = _mm_cmpeq_epi8(_mm_max_epu8(m, t), m);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_and_si128(d, k));
    if constexpr (kA0) {
      __m128i* q = reinterpret_cast<__m128i*>(acc0 + i);
      _mm_storeu_si128(q, _mm_sub_epi8(_mm_loadu_si128(q), k));
    }
    if constexpr (kA1) {
      __m128i* q = reinterpret_cast<__m128i*>(acc1 + i);
      _mm_storeu_si128(q, _mm_sub_epi8(_mm_loadu_si128(q), k));
    }
  }
  return i;
}

std::size_t RowKernel(MotionDetector::Isa isa, const std::uint8_t* p, const std::uint8_t* c,
                      std::uint8_t* out, std::size_t len, std::uint8_t thr, std::uint8_t* acc0,
                      std::uint8_t* acc1) {
  if (isa == MotionDetector::Isa::Avx2) {
    if (acc0 && acc1) return Avx2Row<true, true>(p, c, out, len, thr, acc0, acc1);
    if (acc0) return Avx2Row<true, false>(p, c, out, len, thr, acc0, acc1);
    if (acc1) return Avx2Row<false, true>(p, c, out, len, thr, acc0, acc1);
    return Avx2Row<false, false>(p, c, out, len, thr, acc0, acc1);
  }
  if (acc0 && acc1) return Sse2Row<true, true>(p, c, out, len, thr, acc0, acc1);
  if (acc0) return Sse2Row<true, false>(p, c, out, len, thr, acc0, acc1);
  if (acc1) return Sse2Row<false, true>(p, c, out, len, thr, acc0, acc1);
  return Sse2Row<false, false>(p, c, out, len, thr, acc0, acc1);
}

// 32 bytes of 0xFF, then 32 of 0: a load at 32 - r keeps the first r bytes.
alignas(64) const std::uint8_t kKeepFirst[64] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Sum of the n bytes at a; may read up to 31 bytes past them.
__attribute__((target("avx2"))) long long Avx2Sum(const std::uint8_t* a, std::size_t n) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i s = zero;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32)
    s = _mm256_add_epi64(
        s, _mm256_sad_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i)), zero));
  if (i < n) {
    const __m256i keep =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kKeepFirst + 32 - (n - i)));
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    s = _mm256_add_epi64(s, _mm256_sad_epu8(_mm256_and_si256(v, keep), zero));
  }
  alignas(32) std::uint64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), s);
  return static_cast<long long>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
}

long long Sse2Sum(const std::uint8_t* a, std::size_t n) {
  const __m128i zero = _mm_setzero_si128();
  __m128i s = zero;
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16)
    s = _mm_add_epi64(s,
                      _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)), zero));
  if (i < n) {
    const __m128i keep =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeepFirst + 32 - (n - i)));
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    s = _mm_add_epi64(s, _mm_sad_epu8(_mm_and_si128(v, keep), zero));
  }
  alignas(16) std::uint64_t lanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), s);
  return static_cast<long long>(lanes[0] + lanes[1]);
}
#endif

// Set bits of mask in the bit range [from, to).
__attribute__((always_inline)) inline long long CountBits(const std::uint64_t* mask,
                                                          std::size_t from, std::size_t to) {
  if (from >= to) return 0;
  std::size_t w0 = from >> 6, w1 = (to - 1) >> 6;
  const std::uint64_t headMask = ~std::uint64_t{0} << (from & 63);
  const unsigned tailBits = static_cast<unsigned>(((to - 1) & 63) + 1);
  const std::uint64_t tailMask =
      tailBits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << tailBits) - 1;
  if (w0 == w1) return std::popcount(mask[w0] & headMask & tailMask);
  long long n = std::popcount(mask[w0] & headMask);
  for (std::size_t w = w0 + 1; w < w1; ++w) n += std::popcount(mask[w]);
  return n + std::popcount(mask[w1] & tailMask);
}

// Fills changes of the active cells from the non-zero bits of the
// difference buffer and returns their sum.
__attribute__((always_inline)) inline long long CountZones(const std::uint64_t* mask,
                                                           const TPicture& difference,
                                                           ZoneGrid& grid) {
  const int width = difference.Width(), height = difference.Height();
  const std::size_t stride = static_cast<std::size_t>(difference.Stride());
  long long total = 0;
  for (int c = 0; c < ZoneGrid::kCols; ++c)
    for (int r = 0; r < ZoneGrid::kRows; ++r) {
      if (!grid.on[c][r]) continue;
      ZoneRect z;
      long long count = 0;
      if (CountedZone(grid, c, r, width, height, z)) {
        const std::size_t from = static_cast<std::size_t>(z.left) * 3;
        const std::size_t to = static_cast<std::size_t>(z.right) * 3 + 3;
        for (int y = z.top; y <= z.bottom; ++y) {
          const std::size_t row = static_cast<std::size_t>(height - 1 - y) * stride;
          count += CountBits(mask, row + from, row + to);
        }
      }
      grid.changes[c][r] = static_cast<int>(count / 3);
      total += grid.changes[c][r];
    }
  return total;
}

long long CountZonesGeneric(const std::uint64_t* mask, const TPicture& difference, ZoneGrid& grid) {
  return CountZones(mask, difference, grid);
}

#ifdef ZV_X86
// The same with the CPU's population-count instruction (every AVX2 CPU has it).
__attribute__((target("popcnt"))) long long CountZonesPopcnt(const std::uint64_t* mask,
                                                             const TPicture& difference,
                                                             ZoneGrid& grid) {
  return CountZones(mask, difference, grid);
}
#endif

}  // namespace

MotionDetector::Isa MotionDetector::BestIsa() {
#ifdef ZV_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return Isa::Avx2;
  return Isa::Sse2;
#else
  return Isa::Scalar;
#endif
}

MotionDetector::MotionDetector(Isa isa) : isa_(isa) {
#ifndef ZV_X86
  isa_ = Isa::Scalar;
#else
  // An instruction set the CPU lacks falls back to the best it has.
  if (isa_ > BestIsa()) isa_ = BestIsa();
#endif
}

void MotionDetector::Run(const TPicture& previous, TPicture& current, TPicture& difference,
                         std::uint8_t filter, bool wantMask) {
  MatchBitmap(previous, current);
  MatchBitmap(previous, difference);
  const std::size_t total = previous.SizeBytes();
  const std::size_t n = total / 3 * 3;  // whole three-byte steps only
  const std::uint8_t t = EffectiveThreshold(filter);
  std::uint64_t* mask = nullptr;
  if (wantMask) {
    const std::size_t words = (total + 63) / 64;
    if (mask_.size() < words) mask_.resize(words);
    mask = mask_.data();
  }
  const std::uint8_t* p = previous.Data();
  const std::uint8_t* c = current.Data();
  std::uint8_t* out = difference.Data();

  std::size_t done = 0;
#ifdef ZV_X86
  if (isa_ == Isa::Avx2)
    done = Avx2Range(p, c, out, n, t, mask);
  else if (isa_ == Isa::Sse2)
    done = Sse2Range(p, c, out, n, t, mask);
#endif
  if (!mask) {
    ScalarRange(p, c, out, done, n, t, nullptr);
    return;
  }
  // The scalar rest starts on a word boundary (done is a multiple of 64).
  for (std::size_t w = done / 64; w < (total + 63) / 64; ++w) mask[w] = 0;
  ScalarRange(p, c, out, done, n, t, mask);
  // Bytes past the last whole step are not compared; they count as they are.
  for (std::size_t i = n; i < total; ++i)
    if (out[i] != 0) mask[i >> 6] |= std::uint64_t{1} << (i & 63);
}

void MotionDetector::CompareFrames(const TPicture& previous, TPicture& current,
                                   TPicture& difference, std::uint8_t filter) {
  Run(previous, current, difference, filter, false);
}

bool MotionDetector::BandsApply(const TPicture& previous, const ZoneGrid& grid) const {
#ifdef ZV_X86
  const int w = previous.Width(), h = previous.Height();
  // Every zone row at least one picture row high (so a row lies in at most
  // two zone rows), and at most 255 rows, the reach of a byte counter.
  return isa_ != Isa::Scalar && grid.frameWidth == w && grid.frameHeight == h &&
         w >= ZoneGrid::kCols && h >= ZoneGrid::kRows && h / ZoneGrid::kRows + 2 <= 255;
#else
  (void)previous;
  (void)grid;
  return false;
#endif
}

long long MotionDetector::RunBands(const TPicture& previous, TPicture& current,
                                   TPicture& difference, std::uint8_t filter, ZoneGrid& grid) {
  long long total = 0;
#ifdef ZV_X86
  MatchBitmap(previous, current);
  MatchBitmap(previous, difference);
  const int width = previous.Width(), height = previous.Height();
  const std::size_t stride = static_cast<std::size_t>(previous.Stride());
  const std::size_t bytes = previous.SizeBytes();
  const std::size_t n = bytes / 3 * 3;
  const std::uint8_t t = EffectiveThreshold(filter);
  const bool avx2 = isa_ == Isa::Avx2;

  const std::size_t span = stride + 64;  // room for whole-vector over-reads
  if (acc_.size() < 2 * span) acc_.resize(2 * span);
  std::memset(acc_.data(), 0, 2 * span);
  std::uint8_t* acc[2] = {acc_.data(), acc_.data() + span};

  int top[ZoneGrid::kRows];
  bool bandOn[ZoneGrid::kRows];
  for (int r = 0; r < ZoneGrid::kRows; ++r) {
    top[r] = grid.frame[0][r].top;
    bandOn[r] = false;
    for (int c = 0; c < ZoneGrid::kCols; ++c) bandOn[r] = bandOn[r] || grid.on[c][r];
  }

  const std::uint8_t* p = previous.Data();
  const std::uint8_t* cur = current.Data();
  std::uint8_t* out = difference.Data();
  int band = ZoneGrid::kRows - 1;
  // Stored rows from the lowest address: screen rows from the bottom up.
  for (int s = 0; s < height; ++s) {
    const int y = height - 1 - s;
    while (band > 0 && y < top[band]) --band;
    // y lies in zone row `band`; its top row is also the bottom row of the one above.
    const bool shared = band > 0 && y == top[band];
    std::uint8_t* a0 = bandOn[band] ? acc[band & 1] : nullptr;
    std::uint8_t* a1 = shared && bandOn[band - 1] ? acc[(band - 1) & 1] : nullptr;

    const std::size_t rowStart = static_cast<std::size_t>(s) * stride;
    const std::size_t len = std::min(stride, n - rowStart);
    std::size_t i = RowKernel(isa_, p + rowStart, cur + rowStart, out + rowStart, len, t, a0, a1);
    for (; i < len; ++i) {
      bool nz;
      out[rowStart + i] = ScalarByte(p[rowStart + i], cur[rowStart + i], t, nz);
      if (nz && a0) ++a0[i];
      if (nz && a1) ++a1[i];
    }
    // Bytes past the last whole step are not compared; they count as they are.
    for (; i < stride; ++i)
      if (out[rowStart + i] != 0) {
        if (a0) ++a0[i];
        if (a1) ++a1[i];
      }

    if (y == top[band]) {  // zone row `band` is complete
      if (bandOn[band]) {
        for (int c = 0; c < ZoneGrid::kCols; ++c) {
          if (!grid.on[c][band]) continue;
          ZoneRect z;
          long long count = 0;
          if (CountedZone(grid, c, band, width, height, z)) {
            const std::size_t from = static_cast<std::size_t>(z.left) * 3;
            const std::size_t len3 = static_cast<std::size_t>(z.right - z.left + 1) * 3;
            count =
                avx2 ? Avx2Sum(acc[band & 1] + from, len3) : Sse2Sum(acc[band & 1] + from, len3);
          }
          grid.changes[c][band] = static_cast<int>(count / 3);
          total += grid.changes[c][band];
        }
        std::memset(acc[band & 1], 0, span);
      }
    }
  }
#else
  (void)previous, (void)current, (void)difference, (void)filter, (void)grid;
#endif
  return total;
}

int MotionDetector::CompareAndMeasure(const TPicture& previous, TPicture& current,
                                      TPicture& difference, std::uint8_t filter, ZoneGrid& grid,
                                      double eventPercent) {
  const int active = grid.ActiveCount();
  if (active == 0) {
    Run(previous, current, difference, filter, false);
    return 0;
  }
  long long total = 0;
  if (BandsApply(previous, grid)) {
    total = RunBands(previous, current, difference, filter, grid);
  } else {
    Run(previous, current, difference, filter, true);
#ifdef ZV_X86
    if (isa_ == Isa::Avx2)
      total = CountZonesPopcnt(mask_.data(), difference, grid);
    else
#endif
      total = CountZonesGeneric(mask_.data(), difference, grid);
  }
  const long long share = ZoneAlarmShare(eventPercent, grid.frameWidth, grid.frameHeight, active);
  for (int c = 0; c < ZoneGrid::kCols; ++c)
    for (int r = 0; r < ZoneGrid::kRows; ++r)
      grid.alarm[c][r] = grid.on[c][r] && grid.changes[c][r] > share;
  return ChangeLevel(total, grid.frameWidth, grid.frameHeight);
}

}  // namespace zv
