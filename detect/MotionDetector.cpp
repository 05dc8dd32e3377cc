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
#endif

// Set bits of mask in the bit range [from, to).
long long CountBits(const std::uint64_t* mask, std::size_t from, std::size_t to) {
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
  if (isa_ == Isa::Avx2 && BestIsa() != Isa::Avx2) isa_ = Isa::Sse2;
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

int MotionDetector::CompareAndMeasure(const TPicture& previous, TPicture& current,
                                      TPicture& difference, std::uint8_t filter, ZoneGrid& grid,
                                      double eventPercent) {
  const bool anyActive = grid.ActiveCount() > 0;
  Run(previous, current, difference, filter, anyActive);
  if (!anyActive) return 0;

  const int width = difference.Width(), height = difference.Height();
  const std::size_t stride = static_cast<std::size_t>(difference.Stride());
  const std::uint64_t* mask = mask_.data();
  long long total = 0;
  int active = 0;
  for (int c = 0; c < ZoneGrid::kCols; ++c)
    for (int r = 0; r < ZoneGrid::kRows; ++r) {
      if (!grid.on[c][r]) continue;
      ++active;
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
  const long long share = ZoneAlarmShare(eventPercent, grid.frameWidth, grid.frameHeight, active);
  for (int c = 0; c < ZoneGrid::kCols; ++c)
    for (int r = 0; r < ZoneGrid::kRows; ++r)
      grid.alarm[c][r] = grid.on[c][r] && grid.changes[c][r] > share;
  return ChangeLevel(total, grid.frameWidth, grid.frameHeight);
}

}  // namespace zv
