// mark_html: one forward scan that splices empty attributes onto root-level
// start tags and cuts the text around placeholder <template> elements.
//
// Conventions:
// - Input is UTF-8 bytes; offsets are byte offsets. Every cut and splice
//   point sits next to an ASCII byte or at an end of the input, so each
//   piece is valid text.
// - Nothing outside a spliced start tag changes: the output is the input
//   with the root splice inserted at recorded offsets, cut into pieces.
// - Malformed markup never fails: unterminated constructs run to the end of
//   the input and stray '<' bytes are text.
// - Names (void, raw-text, "template", the placeholder attribute, raw-text
//   end tags) compare under ASCII case folding.
// - The scan only records offsets (the plan); the caller sizes every piece
//   exactly and copies the input in runs, so nothing is copied twice.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumra::html {

// A range of the input and the splice points inside it: entries
// [first_splice, first_splice + splice_count) of MarkPlan::splices.
struct MarkPiece {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t first_splice = 0;
  std::size_t splice_count = 0;
};

struct MarkedPlaceholder {
  std::string_view id;  // the placeholder attribute's value as written ("" when bare)
  MarkPiece html;       // the whole element, through the '>' of its end tag
  bool root = false;    // met at depth 0: spliced, and reports the root attributes
};

struct MarkPlan {
  std::vector<std::size_t> splices;  // input offsets for the root splice, ascending
  std::vector<MarkPiece> segments;   // always placeholders.size() + 1 entries
  std::vector<MarkedPlaceholder> placeholders;
};

// Scans `html` once. Views in the plan point into `html`.
MarkPlan plan_marks(std::string_view html, std::string_view placeholder_attr);

// ` a="" b=""` for names a, b: the text spliced onto root-level tags.
std::string build_root_splice(std::span<const std::string> names);

// Exact byte size of a piece once the splice is inserted.
inline std::size_t piece_size(const MarkPiece& piece, std::string_view splice) {
  return piece.end - piece.begin + piece.splice_count * splice.size();
}

// Writes the piece, splices inserted, to `out` (piece_size bytes); returns
// the end of what was written.
char* write_piece(const MarkPlan& plan, const MarkPiece& piece, std::string_view html,
                  std::string_view splice, char* out);

// The whole result as strings (for callers that do not need to place the
// pieces themselves).
struct MarkOutputPlaceholder {
  std::string id;
  std::string html;
  std::vector<std::string> added_attributes;
};
struct MarkOutput {
  std::vector<std::string> segments;
  std::vector<MarkOutputPlaceholder> placeholders;
};
MarkOutput mark_html(std::string_view html, std::span<const std::string> root_attributes,
                     std::string_view placeholder_attr);

}  // namespace lumra::html
