#include "app/Cameras.h"

#include <algorithm>
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

TCameraInfo& CameraTable::CreateAt(int number) {
  if (number < 1 || number > count_ + 1)
    throw std::out_of_range("Неверный номер видеокамеры " + std::to_string(number));
  CreateNext();
  auto first = slots_.begin() + number;
  auto last = slots_.begin() + count_ + 1;
  std::rotate(first, last - 1, last);
  for (int k = number; k <= count_; ++k) slots_[static_cast<std::size_t>(k)]->Number = k;
  return *slots_[static_cast<std::size_t>(number)];
}

void CameraTable::Remove(int number) {
  if (number < 1 || number > count_) return;
  std::unique_ptr<TCameraInfo> gone = std::move(slots_[static_cast<std::size_t>(number)]);
  for (int k = number; k < count_; ++k) {
    slots_[static_cast<std::size_t>(k)] = std::move(slots_[static_cast<std::size_t>(k + 1)]);
    slots_[static_cast<std::size_t>(k)]->Number = k;
  }
  --count_;
  gone.reset();
}

TCameraInfo* CameraTable::Get(int number) const {
  if (number < 1 || number > count_) return nullptr;
  return slots_[static_cast<std::size_t>(number)].get();
}

}  // namespace zv
