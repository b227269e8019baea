// Byte offsets and half-open byte ranges into a UTF-8 source text. Offsets are
// 32-bit: texts of 4 GiB or more are refused before anything is indexed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pyexpr/internal_fault.h"

namespace lumra::pyexpr {

struct TextSize {
    uint32_t raw = 0;

    constexpr TextSize() = default;
    constexpr TextSize(uint32_t value) : raw(value) {}  // NOLINT(google-explicit-constructor)

    // A length or offset taken from a size_t; one that does not fit is a fault.
    static TextSize from_size(size_t value) {
        if (value > UINT32_MAX) internal_fault("called `Result::unwrap()` on an `Err` value: TryFromIntError(())");
        return TextSize(static_cast<uint32_t>(value));
    }
    static TextSize of(std::string_view text) { return from_size(text.size()); }

    constexpr uint32_t to_u32() const { return raw; }
    constexpr size_t to_usize() const { return raw; }

    friend constexpr TextSize operator+(TextSize a, TextSize b) { return TextSize(a.raw + b.raw); }
    friend constexpr TextSize operator-(TextSize a, TextSize b) { return TextSize(a.raw - b.raw); }
    constexpr TextSize& operator+=(TextSize b) { raw += b.raw; return *this; }
    constexpr TextSize& operator-=(TextSize b) { raw -= b.raw; return *this; }
    friend constexpr bool operator==(TextSize a, TextSize b) = default;
    friend constexpr auto operator<=>(TextSize a, TextSize b) = default;
};

class TextRange {
public:
    constexpr TextRange() = default;
    // Checks start <= end; an inverted range is an internal fault.
    constexpr TextRange(TextSize start, TextSize end) : start_(start), end_(end) {
        if (start.raw > end.raw) fail_inverted();
    }
    static constexpr TextRange empty_at(TextSize offset) { return TextRange(offset, offset); }
    static constexpr TextRange at(TextSize offset, TextSize len) { return TextRange(offset, offset + len); }

    constexpr TextSize start() const { return start_; }
    constexpr TextSize end() const { return end_; }
    constexpr TextSize len() const { return end_ - start_; }
    constexpr bool is_empty() const { return start_ == end_; }

    constexpr bool contains(TextSize offset) const { return start_ <= offset && offset < end_; }
    constexpr bool contains_inclusive(TextSize offset) const { return start_ <= offset && offset <= end_; }
    constexpr bool contains_range(TextRange other) const { return start_ <= other.start_ && other.end_ <= end_; }

    // The end moved right by `amount` bytes (a character appended to a token).
    constexpr TextRange add_end(TextSize amount) const { return TextRange(start_, end_ + amount); }
    constexpr TextRange add_start(TextSize amount) const { return TextRange(start_ + amount, end_); }
    constexpr TextRange sub_start(TextSize amount) const { return TextRange(start_ - amount, end_); }
    constexpr TextRange sub_end(TextSize amount) const { return TextRange(start_, end_ - amount); }
    // Both ends shifted (e.g. onto a bigger text); callers keep the result inside 32 bits.
    constexpr TextRange shifted(TextSize amount) const { return TextRange(start_ + amount, end_ + amount); }
    // The smallest range covering both.
    constexpr TextRange cover(TextRange other) const {
        return TextRange(start_ < other.start_ ? start_ : other.start_, end_ > other.end_ ? end_ : other.end_);
    }

    // The bytes of `text` this range covers; the caller guarantees it lies inside.
    std::string_view slice(std::string_view text) const { return text.substr(start_.raw, end_.raw - start_.raw); }

    // "3..7": the form messages print and the rewriter reads back.
    std::string to_string() const { return std::to_string(start_.raw) + ".." + std::to_string(end_.raw); }

    friend constexpr bool operator==(TextRange a, TextRange b) = default;

private:
    [[noreturn]] static void fail_inverted() { internal_fault("assertion failed: start.raw <= end.raw"); }

    TextSize start_;
    TextSize end_;
};

}  // namespace lumra::pyexpr
