#include "pyexpr/line_index.h"

#include <algorithm>
#include <cstring>

#include "text/utf8.h"

namespace lumra::pyexpr {

namespace {

// Whether any byte is 0x80 or above, a word at a time.
bool has_non_ascii(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size();
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    while (n >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & kHigh) return true;
        p += 8;
        n -= 8;
    }
    for (; n > 0; --n, ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) return true;
    }
    return false;
}

}  // namespace

LineIndex LineIndex::from_source(std::string_view text) {
    const TextSize len = TextSize::of(text);  // refuses texts beyond 32 bits first
    auto impl = std::make_shared<Impl>();
    if (text.size() >= 88) impl->line_starts.reserve(text.size() / 88);
    impl->line_starts.push_back(TextSize(0));
    const char* base = text.data();
    const char* p = base;
    const char* end = base + len.raw;
    while (p < end) {
        // The next line break byte, LF or CR.
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        const char* limit = lf ? static_cast<const char*>(lf) : end;
        const void* cr = std::memchr(p, '\r', static_cast<size_t>(limit - p));
        const char* hit = cr ? static_cast<const char*>(cr) : static_cast<const char*>(lf);
        if (hit == nullptr) break;
        const uint32_t i = static_cast<uint32_t>(hit - base);
        if (!(*hit == '\r' && hit + 1 < end && hit[1] == '\n')) impl->line_starts.push_back(TextSize(i + 1));
        p = hit + 1;
    }
    impl->kind = has_non_ascii(text) ? IndexKind::Utf8 : IndexKind::Ascii;
    LineIndex index;
    index.impl_ = std::move(impl);
    return index;
}

LineColumn LineIndex::line_column(TextSize offset, std::string_view text) const {
    if (offset.raw > text.size()) internal_fault("byte index " + std::to_string(offset.raw) + " is out of bounds");
    const auto& starts = impl_->line_starts;
    const auto it = std::upper_bound(starts.begin(), starts.end(), offset);
    const size_t line = static_cast<size_t>(it - starts.begin()) - 1;  // starts[0] == 0 <= offset
    const uint32_t line_start = starts[line].raw;
    size_t column;
    if (impl_->kind == IndexKind::Ascii) {
        column = offset.raw - line_start;
    } else {
        if (offset.raw < text.size() && (static_cast<unsigned char>(text[offset.raw]) & 0xC0) == 0x80) {
            internal_fault("byte index " + std::to_string(offset.raw) + " is not a char boundary");
        }
        column = text::utf8::count_chars(text.substr(line_start, offset.raw - line_start));
    }
    column += 1;
    if (line == 0 && text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
        column = column > 1 ? column - 1 : 1;
    }
    return LineColumn{line + 1, column};
}

}  // namespace lumra::pyexpr
