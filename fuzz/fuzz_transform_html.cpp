// transform_html over arbitrary bytes: the reader either rejects the markup
// with one of its messages or the output is well-formed text.
//
// Input layout: the first byte picks the tracked attribute (bits 0-1); the
// rest is the HTML. Every input is transformed four ways and the results must
// agree:
// - plain (no attributes, end names unchecked) is the baseline;
// - with root and all-element attributes: fails exactly when the baseline
//   fails, with the same message, and otherwise its output minus the added
//   attributes is the baseline's output;
// - with end names checked: only adds failures, and when it succeeds its
//   output is the baseline's.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "harness.h"
#include "html/transform.h"

namespace {

using namespace lumra::html;

constexpr std::size_t kMaxInput = 16384;

// Names that never occur in the input (checked), so their added copies can be
// counted and removed again.
constexpr std::string_view kRootName = "\xf0\x9f\xa7\xaa";  // U+1F9EA
constexpr std::string_view kAllName = "\xf0\x9f\xa7\xab";   // U+1F9EB

const std::array<std::optional<std::string>, 4> kTracked = {
    std::nullopt, std::optional<std::string>("data-id"), std::optional<std::string>(kAllName),
    std::optional<std::string>("")};

bool starts_with(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

void check_message(const std::string& message) {
  static constexpr std::string_view kSyntax[] = {
      "unknown or missed symbol in markup",
      "processing instruction or xml declaration not closed: `?>` not found before end of input",
      "comment not closed: `-->` not found before end of input",
      "DOCTYPE not closed: `>` not found before end of input",
      "CDATA not closed: `]]>` not found before end of input",
      "tag not closed: `>` not found before end of input",
  };
  if (starts_with(message, "syntax error: ")) {
    const std::string_view rest = std::string_view(message).substr(14);
    bool known = false;
    for (const std::string_view text : kSyntax) known = known || rest == text;
    FUZZ_CHECK(known);
    return;
  }
  FUZZ_CHECK(starts_with(message, "ill-formed document: "));
  const std::string_view rest = std::string_view(message).substr(21);
  FUZZ_CHECK(rest == "`<!DOCTYPE>` declaration does not contain a name of a document type" ||
             (starts_with(rest, "close tag `</") &&
              rest.ends_with(">` does not match any open tag")) ||
             (starts_with(rest, "expected `</") && rest.ends_with(">` was found")));
}

std::string remove_all(std::string text, std::string_view what) {
  std::size_t at = 0;
  while ((at = text.find(what, at)) != std::string::npos) text.erase(at, what.size());
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const std::string_view html(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool utf8 = lumra::fuzz::is_valid_utf8(html);
  const bool names_absent =
      html.find(kRootName) == std::string_view::npos && html.find(kAllName) == std::string_view::npos;

  const TransformOptions plain;
  TransformOptions added;
  added.root_attributes = {std::string(kRootName)};
  added.all_attributes = {std::string(kAllName)};
  added.tracked_attribute = kTracked[data[0] & 3];

  const TransformResult base = transform_html(html, plain, false);
  const TransformResult with_attrs = transform_html(html, added, false);
  const TransformResult checked = transform_html(html, plain, true);

  FUZZ_CHECK(base.index() == with_attrs.index());
  if (const auto* error = std::get_if<TransformError>(&base)) {
    check_message(error->message);
    FUZZ_CHECK(std::get<TransformError>(with_attrs).message == error->message);
    FUZZ_CHECK(std::holds_alternative<TransformError>(checked));
    check_message(std::get<TransformError>(checked).message);
    return 0;
  }
  const TransformOutput& out = std::get<TransformOutput>(base);
  const TransformOutput& out_added = std::get<TransformOutput>(with_attrs);
  FUZZ_CHECK(out.captured.empty());
  if (utf8) {
    FUZZ_CHECK(lumra::fuzz::is_valid_utf8(out.html));
    FUZZ_CHECK(lumra::fuzz::is_valid_utf8(out_added.html));
  }
  if (names_absent) {
    std::string stripped = remove_all(out_added.html, " " + std::string(kRootName) + "=\"\"");
    stripped = remove_all(std::move(stripped), " " + std::string(kAllName) + "=\"\"");
    FUZZ_CHECK(stripped == out.html);
  }
  for (const CapturedAttributes& c : out_added.captured) {
    FUZZ_CHECK(!c.added.empty() && c.added.back() == kAllName);
    FUZZ_CHECK(c.added.size() == 1 || (c.added.size() == 2 && c.added[0] == kRootName));
    // The scan reads the tag as it stands after the additions, so a value
    // may run into appended text when the input's quoting is unbalanced.
    FUZZ_CHECK(c.value.empty() || out_added.html.find(c.value) != std::string::npos);
  }
  if (const auto* error = std::get_if<TransformError>(&checked)) {
    check_message(error->message);
  } else {
    FUZZ_CHECK(std::get<TransformOutput>(checked).html == out.html);
  }
  return 0;
}
