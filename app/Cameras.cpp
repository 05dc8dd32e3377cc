#include "app/Cameras.h"

#include <stdexcept>

namespace zv {

CameraTable::CameraTable()
    : factory_([](int number) { return std::make_unique<TCameraInfo>(number); }) {}

TCameraInfo& CameraTable::CreateNext() {
  if (count_ >= kMaxCameras)
    throw std::runtime_error("Превышено число видеокамер (" + std::to_string(kMaxCameras) + ")");
  const int number = count_ + 1;
  slots_[static_cast<std::size_t>(number)] = factory_(number);
  count_ = number;
  return *slots_[static_cast<std::size_t>(number)];
}

void CameraTable::FreeAll() {
  for (int i = count_; i >= 1; --i) slots_[static_cast<std::size_t>(i)].reset();
  count_ = 0;
}

void CameraTable::FreeLast() {
  if (count_ <= 0) return;
  slots_[static_cast<std::size_t>(count_)].reset();
  --count_;
}

TCameraInfo* CameraTable::Get(int number) const {
  if (number < 1 || number > count_) return nullptr;
  return slots_[static_cast<std::size_t>(number)].get();
}

}  // namespace zv
