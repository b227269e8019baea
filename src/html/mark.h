// mark_html: one forward scan that splices empty attributes onto root-level
// start tags and cuts the text around placeholder <template> elements.
//
// Conventions:
// - The scan reads code units: bytes (char) of UTF-8 or Latin-1 text, UCS-2
//   (char16_t) or UCS-4 (char32_t), so a Python str is read in its own
//   storage. Offsets count code units: byte offsets for UTF-8, code point
//   indexes for the fixed-width forms. Markup is ASCII; a unit above 127 is
//   always text, whatever its low byte (so bytes need no decoding).
// - Every cut and splice point sits next to an ASCII unit or at an end of
//   the input, so each piece is valid text.
// - Nothing outside a spliced start tag changes: the output is the input
//   with the root splice inserted at recorded offsets, cut into pieces.
// - Malformed markup never fails: unterminated constructs run to the end of
//   the input and stray '<' units are text.
// - Names (void, raw-text, "template", the placeholder attribute, raw-text
//   end tags) compare under ASCII case folding; every other unit must be
//   equal.
// - The scan only records offsets (the plan); the caller sizes every piece
//   exactly and copies the input in runs, so nothing is copied twice.
#pragma once

#include <cstddef>
#include <optional>
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

template <class Unit>
struct BasicMarkedPlaceholder {
  std::basic_string_view<Unit> id;  // the placeholder attribute's value as written ("" when bare)
  MarkPiece html;                   // the whole element, through the '>' of its end tag
  bool root = false;                // met at depth 0: spliced, and reports the root attributes
};

template <class Unit>
struct BasicMarkPlan {
  std::vector<std::size_t> splices;  // input offsets for the root splice, ascending
  std::vector<MarkPiece> segments;   // always placeholders.size() + 1 entries
  std::vector<BasicMarkedPlaceholder<Unit>> placeholders;
  // 16- and 32-bit units only: some unit is in U+D800-U+DFFF, so the text,
  // read as code points, has no UTF-8 form.
  bool has_surrogates = false;
};

using MarkedPlaceholder = BasicMarkedPlaceholder<char>;
using MarkPlan = BasicMarkPlan<char>;

// Told about the plan as the scan goes: after each placeholder, the plan's
// newest segment and placeholder are final, and their input has just been
// read, so a caller that copies them out now finds it in cache.
template <class Unit>
class MarkListener {
 public:
  virtual void on_placeholder(const BasicMarkPlan<Unit>& plan) = 0;

 protected:
  ~MarkListener() = default;
};

// Scans `html` once. Views in the plan point into `html`. `placeholder_attr`
// is the attribute name in the same code units; std::nullopt when the name
// cannot be written in them (a code point above the unit's range), so that
// no attribute matches. Instantiated for char, char16_t and char32_t.
template <class Unit>
BasicMarkPlan<Unit> plan_unit_marks(std::basic_string_view<Unit> html,
                                    std::optional<std::basic_string_view<Unit>> placeholder_attr,
                                    MarkListener<Unit>* listener = nullptr);

extern template BasicMarkPlan<char> plan_unit_marks(std::string_view, std::optional<std::string_view>,
                                                    MarkListener<char>*);
extern template BasicMarkPlan<char16_t> plan_unit_marks(std::u16string_view, std::optional<std::u16string_view>,
                                                        MarkListener<char16_t>*);
extern template BasicMarkPlan<char32_t> plan_unit_marks(std::u32string_view, std::optional<std::u32string_view>,
                                                        MarkListener<char32_t>*);

// UTF-8 (or Latin-1) bytes.
inline MarkPlan plan_marks(std::string_view html, std::string_view placeholder_attr) {
  return plan_unit_marks<char>(html, placeholder_attr);
}

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
