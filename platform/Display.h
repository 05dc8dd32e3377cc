#pragma once

namespace zv {

struct DisplayMetrics {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
};

class IDisplayInfo {
 public:
  virtual ~IDisplayInfo() = default;
  virtual DisplayMetrics Query() const = 0;
};

}  // namespace zv
