// Line index of a source text: the offset at which each line starts, for
// turning byte offsets into 1-based lines and columns. The index keeps no copy
// of the text; every lookup is given the same text again. Copies share one
// immutable index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "pyexpr/text_size.h"

namespace lumra::pyexpr {

enum class IndexKind : uint8_t { Ascii, Utf8 };

struct LineColumn {
    size_t line = 1;    // from 1
    size_t column = 1;  // from 1, in characters
    friend bool operator==(const LineColumn&, const LineColumn&) = default;
};

class LineIndex {
public:
    // LF, CR and CRLF each end one line. A text longer than 32 bits is an internal fault.
    static LineIndex from_source(std::string_view text);

    std::span<const TextSize> line_starts() const { return {impl_->line_starts.data(), impl_->line_starts.size()}; }
    IndexKind kind() const { return impl_->kind; }

    // Line and column of `offset` in `text` (the text the index was built
    // from). An offset past the end or inside a UTF-8 character is an internal
    // fault. On line 1, a leading byte order mark is not counted as a column.
    LineColumn line_column(TextSize offset, std::string_view text) const;

private:
    struct Impl {
        std::vector<TextSize> line_starts;
        IndexKind kind = IndexKind::Ascii;
    };
    std::shared_ptr<const Impl> impl_;
};

inline LineIndex line_index_from_source(std::string_view text) { return LineIndex::from_source(text); }
inline LineColumn line_column(const LineIndex& index, TextSize offset, std::string_view text) {
    return index.line_column(offset, text);
}

}  // namespace lumra::pyexpr
