// transform_html: re-serialise HTML through the event reader, appending
// empty attributes to root-level and to all start tags and reporting what was
// added to tags that carry a tracked attribute.
//
// Conventions: input and output are UTF-8 bytes; the output consists of
// pieces of the input cut at ASCII bytes plus the attribute names as given,
// so it is valid UTF-8 whenever the input and the names are. Reader errors
// come back as values carrying the reader's message.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumra::html {

struct TransformOptions {
  std::vector<std::string> root_attributes;  // appended to root-level start tags
  std::vector<std::string> all_attributes;   // appended to every start tag
  std::optional<std::string> tracked_attribute;
};

// One tag that carried the tracked attribute: its value as written and the
// names appended to that tag, in order.
struct CapturedAttributes {
  std::string value;
  std::vector<std::string> added;
};

struct TransformOutput {
  std::string html;
  std::vector<CapturedAttributes> captured;  // document order; later values win
};

struct TransformError {
  std::string message;
};

using TransformResult = std::variant<TransformOutput, TransformError>;

TransformResult transform_html(std::string_view html, const TransformOptions& options,
                               bool check_end_names);

// The per-tag step. `buffer` ends with the start tag's text (between '<' and
// '>' or '/>'), which begins at `tag_start`; `name_len` is the length of its
// name. Appends ` name=""` for each root attribute (when `is_root`) and each
// all-element attribute, then, when a tracked attribute is set and the tag
// now carries it, records its value and the names appended.
void add_attributes_to_tag(const TransformOptions& options, std::string& buffer,
                           std::size_t tag_start, std::size_t name_len, bool is_root,
                           std::vector<CapturedAttributes>& captured);

// Value as written (between the quotes, references undecoded) of the first
// attribute of `tag` named exactly `name`, read by XML rules: name="v" or
// name='v' with optional whitespace around '='. The first byte of an entry
// always belongs to its name, so a name is never empty. A bare name or an
// unquoted value is skipped; since a repeated name never counts, an unusable
// first occurrence of `name` means it is not found.
std::optional<std::string_view> find_xml_attribute(std::string_view tag, std::size_t name_len,
                                                   std::string_view name);

}  // namespace lumra::html
