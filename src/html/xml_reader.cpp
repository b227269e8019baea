// Event reader: see xml_reader.h for the conventions.
//
// Each read_* function is entered with pos_ at the first byte of its
// construct ('<' or '&' or text) and leaves pos_ just after it.
#include "html/xml_reader.h"

#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "html/chars.h"
#include "text/byte_search.h"

namespace lumra::html {

namespace {

// Every message the reader can produce, side by side.
namespace msg {
constexpr std::string_view kInvalidBang = "syntax error: unknown or missed symbol in markup";
constexpr std::string_view kUnclosedPI =
    "syntax error: processing instruction or xml declaration not closed: `?>` not found before "
    "end of input";
constexpr std::string_view kUnclosedComment =
    "syntax error: comment not closed: `-->` not found before end of input";
constexpr std::string_view kUnclosedDoctype =
    "syntax error: DOCTYPE not closed: `>` not found before end of input";
constexpr std::string_view kUnclosedCData =
    "syntax error: CDATA not closed: `]]>` not found before end of input";
constexpr std::string_view kUnclosedTag =
    "syntax error: tag not closed: `>` not found before end of input";
constexpr std::string_view kMissingDoctypeName =
    "ill-formed document: `<!DOCTYPE>` declaration does not contain a name of a document type";
std::string unmatched_end(std::string_view found) {
  return fmt::format("ill-formed document: close tag `</{}>` does not match any open tag", found);
}
std::string mismatched_end(std::string_view expected, std::string_view found) {
  return fmt::format("ill-formed document: expected `</{}>`, but `</{}>` was found", expected,
                     found);
}
}  // namespace msg

constexpr std::size_t npos = std::string_view::npos;

std::size_t find_byte(std::string_view s, char c, std::size_t from) {
  if (from >= s.size()) return npos;
  const void* hit = std::memchr(s.data() + from, c, s.size() - from);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data()) : npos;
}

std::size_t name_length(std::string_view tag) {
  std::size_t i = 0;
  while (i < tag.size() && !is_xml_space(tag[i])) ++i;
  return i;
}

}  // namespace

XmlReader::XmlReader(std::string_view input, XmlReaderConfig config)
    : in_(input), config_(config) {
  if (in_.size() >= 3 && in_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
}

bool XmlReader::fail(std::string message) {
  error_ = std::move(message);
  failed_ = true;
  return false;
}

bool XmlReader::next(XmlEvent& event) {
  if (failed_) return false;
  if (pos_ >= in_.size()) {
    event = XmlEvent{XmlEventKind::Eof, {}, 0};
    return true;
  }
  switch (in_[pos_]) {
    case '<':
      return read_markup(event);
    case '&':
      read_reference(event);
      return true;
    default:
      read_text(event);
      return true;
  }
}

// Text runs up to the nearer of '<' and '&', found in one scan: looking for
// '<' first would rescan the text up to it after every reference.
void XmlReader::read_text(XmlEvent& event) {
  const std::size_t end = text::find_first_of_bytes(in_, pos_, '<', '&');
  event = XmlEvent{XmlEventKind::Text, in_.substr(pos_, end - pos_), 0};
  pos_ = end;
}

// "&name;" is a reference. An '&' that meets another '&', a '<' or the end
// before any ';' is plain text up to that point.
void XmlReader::read_reference(XmlEvent& event) {
  const std::size_t amp = pos_;
  const std::size_t i = text::find_first_of_bytes(in_, amp + 1, ';', '&', '<');
  if (i < in_.size() && in_[i] == ';') {
    event = XmlEvent{XmlEventKind::GeneralRef, in_.substr(amp + 1, i - amp - 1), 0};
    pos_ = i + 1;
    return;
  }
  event = XmlEvent{XmlEventKind::Text, in_.substr(amp, i - amp), 0};
  pos_ = i;
}

bool XmlReader::read_markup(XmlEvent& event) {
  if (pos_ + 1 >= in_.size()) return fail(std::string(msg::kUnclosedTag));
  switch (in_[pos_ + 1]) {
    case '!':
      return read_bang(event);
    case '?':
      return read_processing(event);
    case '/':
      return read_end_tag(event);
    default:
      return read_start_tag(event);
  }
}

std::size_t XmlReader::find_tag_end(std::size_t from) const {
  std::size_t i = from;
  while (true) {
    i = text::find_first_of_bytes(in_, i, '>', '"', '\'');
    if (i >= in_.size()) return npos;
    if (in_[i] == '>') return i;
    const std::size_t close = find_byte(in_, in_[i], i + 1);
    if (close == npos) return npos;
    i = close + 1;
  }
}

// "<!" starts a comment, a CDATA section or a document type declaration,
// told apart by the byte after '!'. The body is the text after '<' up to
// the terminating '>'; a body that does not start with the construct's full
// keyword is reported as that construct left unclosed.
bool XmlReader::read_bang(XmlEvent& event) {
  const std::size_t body = pos_ + 1;  // at '!'
  const std::string_view rest = in_.substr(body);
  const char kind = rest.size() > 1 ? rest[1] : '\0';

  if (kind == '-') {
    // The shortest comment is "<!---->": its '>' is at least 5 past '!'.
    for (std::size_t i = find_byte(rest, '>', 5); i != npos; i = find_byte(rest, '>', i + 1)) {
      if (rest[i - 1] != '-' || rest[i - 2] != '-') continue;
      if (rest.substr(0, 3) != "!--") return fail(std::string(msg::kUnclosedComment));
      event = XmlEvent{XmlEventKind::Comment, rest.substr(3, i - 5), 0};
      pos_ = body + i + 1;
      return true;
    }
    return fail(std::string(msg::kUnclosedComment));
  }

  if (kind == '[') {
    for (std::size_t i = find_byte(rest, '>', 2); i != npos; i = find_byte(rest, '>', i + 1)) {
      if (rest[i - 1] != ']' || rest[i - 2] != ']') continue;
      if (rest.substr(0, 8) != "![CDATA[") return fail(std::string(msg::kUnclosedCData));
      event = XmlEvent{XmlEventKind::CData, rest.substr(8, i - 10), 0};
      pos_ = body + i + 1;
      return true;
    }
    return fail(std::string(msg::kUnclosedCData));
  }

  if (kind == 'D' || kind == 'd') {
    // '<' and '>' nest, so an internal subset ("[<!ENTITY ...>]") stays
    // inside the declaration.
    std::size_t nesting = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] == '<') {
        ++nesting;
      } else if (rest[i] == '>') {
        if (nesting > 0) {
          --nesting;
          continue;
        }
        const std::string_view decl = rest.substr(0, i);
        if (decl.size() < 8 || !ascii_iequal(decl.substr(0, 8), "!DOCTYPE")) {
          return fail(std::string(msg::kUnclosedDoctype));
        }
        std::size_t start = 8;
        while (start < decl.size() && is_xml_space(decl[start])) ++start;
        if (start == decl.size()) return fail(std::string(msg::kMissingDoctypeName));
        event = XmlEvent{XmlEventKind::DocType, decl.substr(start), 0};
        pos_ = body + i + 1;
        return true;
      }
    }
    return fail(std::string(msg::kUnclosedDoctype));
  }

  return fail(std::string(msg::kInvalidBang));
}

// "<?...?>": an XML declaration when the content starts with "xml" followed
// by whitespace or nothing, otherwise a processing instruction. The first
// '>' preceded by '?' ends it, so "<?>" is unclosed.
bool XmlReader::read_processing(XmlEvent& event) {
  const std::size_t body = pos_ + 1;  // at '?'
  for (std::size_t i = find_byte(in_, '>', body + 1); i != npos; i = find_byte(in_, '>', i + 1)) {
    if (in_[i - 1] != '?') continue;
    if (i - body < 2) return fail(std::string(msg::kUnclosedPI));
    const std::string_view content = in_.substr(body + 1, i - body - 2);
    const bool decl = content.substr(0, 3) == "xml" &&
                      (content.size() == 3 || is_xml_space(content[3]));
    event = XmlEvent{decl ? XmlEventKind::Decl : XmlEventKind::PI, content, 0};
    pos_ = i + 1;
    return true;
  }
  return fail(std::string(msg::kUnclosedPI));
}

bool XmlReader::read_end_tag(XmlEvent& event) {
  const std::size_t gt = find_tag_end(pos_ + 1);
  if (gt == npos) return fail(std::string(msg::kUnclosedTag));
  std::string_view name = in_.substr(pos_ + 2, gt - pos_ - 2);
  while (!name.empty() && is_xml_space(name.back())) name.remove_suffix(1);

  if (open_.empty()) return fail(msg::unmatched_end(name));
  const std::string_view expected = open_.back();
  open_.pop_back();
  if (config_.check_end_names && name != expected) {
    return fail(msg::mismatched_end(expected, name));
  }
  event = XmlEvent{XmlEventKind::End, name, 0};
  pos_ = gt + 1;
  return true;
}

bool XmlReader::read_start_tag(XmlEvent& event) {
  const std::size_t gt = find_tag_end(pos_ + 1);
  if (gt == npos) return fail(std::string(msg::kUnclosedTag));
  std::string_view tag = in_.substr(pos_ + 1, gt - pos_ - 1);
  pos_ = gt + 1;
  if (!tag.empty() && tag.back() == '/') {
    tag.remove_suffix(1);
    event = XmlEvent{XmlEventKind::Empty, tag, name_length(tag)};
    return true;
  }
  const std::size_t name_len = name_length(tag);
  open_.push_back(tag.substr(0, name_len));
  event = XmlEvent{XmlEventKind::Start, tag, name_len};
  return true;
}

}  // namespace lumra::html
