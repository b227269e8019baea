// Lines and columns of offsets in one text, asked in (mostly) increasing order.
//
// Positions of the names of one expression are asked in source order: counting
// each from the start of its line would cost the line's length per name, which
// is quadratic on one long line. The cursor keeps where the last answer was and
// counts only the gap to the next offset; a smaller offset starts over.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text/utf8.h"

namespace lumra::text {

class LineCursor {
 public:
  enum class Breaks : std::uint8_t {
    // Only LF ends a line (the template's own counting).
    Lf,
    // LF, CR and CRLF each end one line (Python's).
    LfCrCrlf,
  };

  struct Position {
    std::uint64_t line = 1;    // from 1
    std::uint64_t column = 1;  // from 1, in characters from the line's start
    // Whether the offset and its line's start both lie on character boundaries.
    bool on_boundary = true;
  };

  LineCursor(std::string_view text, Breaks breaks)
      : text_(text),
        cr_breaks_(breaks == Breaks::LfCrCrlf && text.find('\r') != std::string_view::npos),
        ascii_(utf8::count_chars(text) == text.size()) {}

  // An offset beyond the text counts as its end.
  Position at(std::size_t offset) {
    const std::size_t to = std::min(offset, text_.size());
    if (to < pos_) {
      pos_ = line_start_ = 0;
      line_ = column_ = 1;
    }
    const std::size_t start = last_line_start(to);
    if (start == line_start_) {
      column_ += chars(pos_, to);
    } else {
      line_start_ = start;
      column_ = 1 + chars(start, to);
    }
    pos_ = to;
    return {line_, column_, on_boundary(line_start_) && on_boundary(to)};
  }

 private:
  std::size_t chars(std::size_t from, std::size_t to) const {
    return ascii_ ? to - from : utf8::count_chars(text_.substr(from, to - from));
  }

  bool on_boundary(std::size_t i) const {
    return i >= text_.size() || !utf8::is_continuation(static_cast<unsigned char>(text_[i]));
  }

  // Counts the lines that start in (pos_, to] and gives the last line start at
  // or before `to`.
  std::size_t last_line_start(std::size_t to) {
    std::size_t start = line_start_;
    if (!cr_breaks_) {
      const char* const base = text_.data();
      const char* p = base + pos_;
      const char* const end = base + to;
      while (p < end) {
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (lf == nullptr) break;
        p = static_cast<const char*>(lf) + 1;
        ++line_;
        start = static_cast<std::size_t>(p - base);
      }
      return start;
    }
    for (std::size_t i = pos_; i < to; ++i) {
      const char c = text_[i];
      if (c == '\n' || (c == '\r' && !(i + 1 < text_.size() && text_[i + 1] == '\n'))) {
        ++line_;
        start = i + 1;
      }
    }
    return start;
  }

  std::string_view text_;
  bool cr_breaks_;
  bool ascii_;
  std::size_t pos_ = 0;
  std::size_t line_start_ = 0;
  std::uint64_t line_ = 1;
  std::uint64_t column_ = 1;
};

}  // namespace lumra::text
