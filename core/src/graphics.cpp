#include "graphics.h"

namespace velko {

Matrix multiply(const Matrix& m, const Matrix& n) {
  return {m[0] * n[0] + m[1] * n[2],
          m[0] * n[1] + m[1] * n[3],
          m[2] * n[0] + m[3] * n[2],
          m[2] * n[1] + m[3] * n[3],
          m[4] * n[0] + m[5] * n[2] + n[4],
          m[4] * n[1] + m[5] * n[3] + n[5]};
}

ColorSpaceKind ColorSpaceKind::from_name(std::string_view name) {
  if (name == "DeviceGray" || name == "CalGray" || name == "G") return Gray;
  if (name == "DeviceRGB" || name == "CalRGB" || name == "RGB" || name == "Lab") return Rgb;
  if (name == "DeviceCMYK" || name == "CMYK") return Cmyk;
  return Other;
}

bool GraphicsStack::save() {
  if (saved_.size() >= kMaxSaved) return false;
  if (saved_.capacity() == 0) saved_.reserve(8);
  saved_.push_back(current_);
  return true;
}

bool GraphicsStack::restore() {
  if (saved_.size() <= floor_) return false;
  return pop_into_current();
}

bool GraphicsStack::pop_into_current() {
  if (saved_.empty()) return false;
  current_ = std::move(saved_.back());
  saved_.pop_back();
  return true;
}

}  // namespace velko
