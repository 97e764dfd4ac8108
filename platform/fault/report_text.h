// A bounded text area that a fault report is written into: appends never
// run past its end, and the text stays terminated.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

class ReportText {
 public:
  ReportText(char* area, size_t size) : area_(area), size_(size) { area_[0] = '\0'; }

  size_t position() const { return position_; }
  const char* text() const { return area_; }

  // Appends formatted text; what does not fit before the last byte is dropped.
  __attribute__((format(printf, 2, 3))) void append(const char* format, ...) {
    if (position_ + 1 >= size_) return;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(area_ + position_, size_ - position_, format, arguments);
    va_end(arguments);
    if (written > 0) position_ += std::min(static_cast<size_t>(written), size_ - position_ - 1);
  }

  // Appends a line so that the text ends before `limit`: a line that does not
  // fit is cut and still ends with its newline.
  void appendClipped(const char* line, size_t limit) {
    if (limit > size_ - 1) limit = size_ - 1;
    if (position_ >= limit) return;
    const size_t length = std::strlen(line);
    const size_t room = limit - position_;
    if (length <= room) {
      std::memcpy(area_ + position_, line, length);
      position_ += length;
    } else {
      std::memcpy(area_ + position_, line, room - 1);
      area_[limit - 1] = '\n';
      position_ = limit;
    }
    area_[position_] = '\0';
  }

 private:
  char* area_;
  size_t size_;
  size_t position_ = 0;
};
