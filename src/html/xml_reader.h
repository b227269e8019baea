// A small pull reader of XML-style markup events, tuned to tolerate HTML.
//
// Conventions:
// - The reader works on UTF-8 bytes in place; every event's text is a
//   std::string_view into the input, so the input must outlive the events.
// - Offsets are byte offsets. Markup is recognised only at ASCII bytes, so
//   every view begins and ends on a character boundary.
// - The configuration is fixed except for `check_end_names`:
//     * an '&' without a closing ';' is text (dangling ampersands allowed);
//     * an end tag with no open start tag is an error;
//     * '--' inside a comment is accepted;
//     * '<x/>' is one Empty event (empty elements are not expanded);
//     * whitespace after the name of an end tag is trimmed;
//     * text keeps its leading and trailing whitespace.
// - A leading UTF-8 byte order mark is skipped.
// - Failure is a value: next() returns false and error() holds the message,
//   "syntax error: ..." or "ill-formed document: ...". The reader stops at
//   its first error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumra::html {

enum class XmlEventKind : std::uint8_t {
  Start,       // <name ...>
  Empty,       // <name .../>
  End,         // </name>
  Text,        // character data, written back unchanged
  GeneralRef,  // &name;
  CData,       // <![CDATA[...]]>
  Comment,     // <!--...-->
  Decl,        // <?xml ...?>
  PI,          // <?target ...?>
  DocType,     // <!DOCTYPE ...>
  Eof,
};

struct XmlEvent {
  XmlEventKind kind = XmlEventKind::Eof;
  // Start, Empty: the tag's text between '<' and '>' (for Empty, without the
  //   final '/').
  // End: the name, trailing whitespace removed.
  // Text: the bytes. GeneralRef: the name between '&' and ';'.
  // CData, Comment, Decl, PI: the content between the delimiters.
  // DocType: the text after the keyword and the whitespace that follows it.
  std::string_view text;
  // Start, Empty: length of the name (up to the first whitespace).
  std::size_t name_len = 0;
};

struct XmlReaderConfig {
  // When true, an end tag must repeat the innermost open start tag's name
  // byte for byte.
  bool check_end_names = false;
};

class XmlReader {
 public:
  XmlReader(std::string_view input, XmlReaderConfig config);

  // Reads the next event into `event`. Returns false on a reader error (see
  // error()); after Eof or an error, further calls repeat the outcome.
  bool next(XmlEvent& event);

  const std::string& error() const { return error_; }
  // Names of the start tags still open, innermost last.
  const std::vector<std::string_view>& open_tags() const { return open_; }

 private:
  bool read_markup(XmlEvent& event);
  bool read_bang(XmlEvent& event);
  bool read_processing(XmlEvent& event);
  bool read_end_tag(XmlEvent& event);
  bool read_start_tag(XmlEvent& event);
  void read_reference(XmlEvent& event);
  void read_text(XmlEvent& event);
  bool fail(std::string message);

  // Index of the '>' that closes a tag whose text starts at `from`, skipping
  // '>' inside quoted runs; npos when there is none.
  std::size_t find_tag_end(std::size_t from) const;

  std::string_view in_;
  std::size_t pos_ = 0;
  XmlReaderConfig config_;
  std::vector<std::string_view> open_;
  std::string error_;
  bool failed_ = false;
};

}  // namespace lumra::html
