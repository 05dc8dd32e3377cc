#pragma once
// A 24-bit picture as the whole program keeps it: BGR bytes, rows stored
// bottom-up (offset 0 is the bottom row), each row padded to a multiple of 4
// bytes.  Detector, recorder, viewer and link all use this layout as is.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

class TPicture {
 public:
  TPicture() = default;
  TPicture(int width, int height) { SetSize(width, height); }

  static constexpr int StrideFor(int width) { return (width * 3 + 3) & ~3; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Stride() const { return StrideFor(width_); }
  bool Empty() const { return width_ <= 0 || height_ <= 0; }
  std::size_t SizeBytes() const { return data_.size(); }

  // Resizes (contents become zero when the size changes).
  void SetSize(int width, int height);

  std::uint8_t* Data() { return data_.data(); }
  const std::uint8_t* Data() const { return data_.data(); }
  // Row y counted from the bottom (0 = bottom row, as stored).
  std::uint8_t* StoredRow(int y) { return data_.data() + static_cast<std::size_t>(y) * Stride(); }
  const std::uint8_t* StoredRow(int y) const {
    return data_.data() + static_cast<std::size_t>(y) * Stride();
  }
  // Row y counted from the top of the picture as seen on screen.
  std::uint8_t* ScreenRow(int y) { return StoredRow(height_ - 1 - y); }
  const std::uint8_t* ScreenRow(int y) const { return StoredRow(height_ - 1 - y); }

  bool operator==(const TPicture& o) const {
    return width_ == o.width_ && height_ == o.height_ && data_ == o.data_;
  }

  std::vector<std::uint8_t>& Bytes() { return data_; }
  const std::vector<std::uint8_t>& Bytes() const { return data_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> data_;
};

inline void TPicture::SetSize(int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  data_.assign(static_cast<std::size_t>(StrideFor(width)) * static_cast<std::size_t>(height), 0);
}

}  // namespace zv
