// The template grammar as a recursive-descent recogniser: one member function
// per rule, each a call of PegState::rule() with the rule's kind and a body
// that follows the rule's definition. Choices are `||` chains (first match
// wins), repetitions are loops, and `(!"x" ~ ANY)*` bodies are one look-up of
// the next terminator (TerminatorSearch). Such fast paths are used only where the rules
// they skip over could leave no record and count nothing (atomic bodies, and
// lookaheads over literals), or nothing that is not already counted (repeated
// tries of the raw end tag), so records and error reports are exactly those
// of the literal grammar.
//
// The only recursion is python_nested_curly -> python_expr, bounded by
// kMaxBraceNesting.

#include "template/grammar/grammar.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include <fmt/format.h>

#include "template/grammar/peg_runtime.h"
#include "template/grammar/unicode.h"
#include "text/byte_search.h"

namespace lumra::grammar {
namespace {

using detail::PegState;
using detail::TerminatorSearch;
using detail::utf8_length;

// Character classes of single bytes. `{` is in the stop sets because `{#`
// stops there; the byte after it decides.
enum : std::uint8_t {
  kWhitespace = 1 << 0,     // WHITESPACE
  kTagNameStop = 1 << 1,    // html_tag_name: whitespace / > {#
  kAttrNameStop = 1 << 2,   // attribute names: whitespace = / > < {#
  kUnquotedStop = 1 << 3,   // unquoted_value: whitespace " ' = < > {#
  kAsciiLetter = 1 << 5,
  kMarkupOpener = 1 << 6,   // after <: a letter, / ! ?
  kExprSpecial = 1 << 7,    // python_expr: quotes and braces open or end a part
};

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> t{};
  for (const unsigned char c : {' ', '\t', '\n', '\r'}) {
    t[c] |= kWhitespace | kTagNameStop | kAttrNameStop | kUnquotedStop;
  }
  for (const unsigned char c : {'/', '>', '{'}) t[c] |= kTagNameStop;
  for (const unsigned char c : {'=', '/', '>', '<', '{'}) t[c] |= kAttrNameStop;
  for (const unsigned char c : {'"', '\'', '=', '<', '>', '{'}) t[c] |= kUnquotedStop;
  for (int c = 'a'; c <= 'z'; ++c) t[c] |= kAsciiLetter | kMarkupOpener;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] |= kAsciiLetter | kMarkupOpener;
  for (const unsigned char c : {'/', '!', '?'}) t[c] |= kMarkupOpener;
  for (const unsigned char c : {'"', '\'', '{', '}'}) t[c] |= kExprSpecial;
  return t;
}

constexpr std::array<std::uint8_t, 256> kClass = make_classes();

constexpr auto kNormal = RuleKind::normal;
constexpr auto kSilent = RuleKind::silent;
constexpr auto kAtomic = RuleKind::atomic;
constexpr auto kCompound = RuleKind::compound_atomic;

class TemplateRecogniser : public PegState {
 public:
  TemplateRecogniser(std::string_view input, bool track_attempts, Records records)
      : PegState(input, track_attempts),
        expression_parts_(track_attempts || records == Records::all) {}

  // template = template_element* ~ EOI
  bool template_() {
    return rule<kCompound>(Rule::template_, [this] {
      while (template_element()) {
      }
      return eoi();
    });
  }

  // fill_data_pattern = SOI ~ fill_data_ws ~ (fill_data_destructure | fill_data_identifier)
  //     ~ fill_data_ws ~ EOI
  bool fill_data_pattern() {
    return rule<kCompound>(Rule::fill_data_pattern, [this] {
      if (pos_ != 0) return false;  // SOI
      fill_data_ws();
      if (!(fill_data_destructure() || fill_data_identifier())) return false;
      fill_data_ws();
      return eoi();
    });
  }

 private:
  // Scans from `p` to the first byte of class `stop`, where a `{` stops only
  // when `#` follows it.
  template <std::uint8_t stop>
  std::uint32_t scan_to(std::uint32_t p) const noexcept {
    while (p < n_) {
      const unsigned char c = s_[p];
      if ((kClass[c] & stop) != 0 && (c != '{' || (p + 1 < n_ && s_[p + 1] == '#'))) break;
      ++p;
    }
    return p;
  }

  // Whether a rule that begins with the literal `opening` fails here at its
  // first step. Without attempt tracking such a try leaves nothing behind
  // (its records are dropped, no state is touched), so it is skipped whole.
  bool cannot_open(std::string_view opening) const noexcept {
    return !tracks_attempts() && !peek_literal(opening);
  }
  // The same for a rule whose first step is a test of the byte at the cursor
  // (`opens`) that cannot pass.
  bool cannot_open_with(bool opens) const noexcept { return !tracks_attempts() && !opens; }

  // The cursor stands on WHITESPACE or on a `{`, which may open a template
  // comment: the first step of both kinds of spacing.
  bool at_spacing() const noexcept {
    return pos_ < n_ && ((kClass[s_[pos_]] & kWhitespace) != 0 || s_[pos_] == '{');
  }

  // Moves the cursor to the terminator found from it, or to the end of the
  // input: `(!"x" ~ ANY)*`.
  void skip_to(TerminatorSearch& search) noexcept {
    const std::uint32_t at = search.find(input_, pos_);
    pos_ = at == TerminatorSearch::kNone ? n_ : at;
  }

  // EOI: matches only at the end of the input.
  bool eoi() {
    return rule<kNormal>(Rule::EOI, [this] { return pos_ == n_; });
  }

  // template_element = html_comment | html_directive | html_processing_instruction
  //     | html_raw | html_tag | template_expression | template_comment | text
  bool template_element() {
    return rule<kNormal>(Rule::template_element, [this] {
      return html_comment() || html_directive() || html_processing_instruction() || html_raw() ||
             html_tag() || template_expression() || template_comment() || text();
    });
  }

  // html_comment = "<!--" ~ html_comment_content ~ "-->"
  bool html_comment() {
    if (!next_is('<')) return rule_fails_at_once<kNormal>(Rule::html_comment);
    if (cannot_open("<!--")) return false;
    return rule<kNormal>(Rule::html_comment, [this] {
      return literal("<!--") && html_comment_content() && literal("-->");
    });
  }

  // html_comment_content = (!"-->" ~ ANY)*
  bool html_comment_content() {
    return rule<kAtomic>(Rule::html_comment_content, [this] {
      skip_to(comment_end_);
      return true;
    });
  }

  // html_directive = "<!" ~ directive_content ~ ">"
  bool html_directive() {
    if (!next_is('<')) return rule_fails_at_once<kAtomic>(Rule::html_directive);
    if (cannot_open("<!")) return false;
    return rule<kAtomic>(Rule::html_directive, [this] {
      return literal("<!") && directive_content() && byte('>');
    });
  }

  // directive_content = (!">" ~ ANY)*
  bool directive_content() {
    return rule<kAtomic>(Rule::directive_content, [this] {
      skip_to(angle_close_);
      return true;
    });
  }

  // html_processing_instruction = "<?" ~ processing_instruction_content ~ ">"
  bool html_processing_instruction() {
    if (!next_is('<')) return rule_fails_at_once<kAtomic>(Rule::html_processing_instruction);
    if (cannot_open("<?")) return false;
    return rule<kAtomic>(Rule::html_processing_instruction, [this] {
      return literal("<?") && processing_instruction_content() && byte('>');
    });
  }

  // processing_instruction_content = (!">" ~ ANY)*
  bool processing_instruction_content() {
    return rule<kAtomic>(Rule::processing_instruction_content, [this] {
      skip_to(angle_close_);
      return true;
    });
  }

  // html_raw = html_raw_start_tag ~ html_raw_content ~ html_raw_end_tag
  bool html_raw() {
    if (cannot_open("<c-raw")) return false;
    return rule<kNormal>(Rule::html_raw, [this] {
      return html_raw_start_tag() && html_raw_content() && html_raw_end_tag();
    });
  }

  // Shared tail of tags: `(spacing_with_whitespace ~ html_attribute)* ~ spacing*`.
  void attributes_and_spacing() {
    while (sequence([this] { return spacing_with_whitespace() && html_attribute(); })) {
    }
    while (spacing()) {
    }
  }

  // html_raw_start_tag = "<" ~ html_raw_tag_name ~ (spacing_with_whitespace ~ html_attribute)*
  //     ~ spacing* ~ ">"
  bool html_raw_start_tag() {
    if (!next_is('<')) return rule_fails_at_once<kNormal>(Rule::html_raw_start_tag);
    return rule<kNormal>(Rule::html_raw_start_tag, [this] {
      if (!(byte('<') && html_raw_tag_name())) return false;
      attributes_and_spacing();
      return byte('>');
    });
  }

  // html_raw_end_tag = "</" ~ html_raw_tag_name ~ (spacing_with_whitespace ~ html_attribute)*
  //     ~ spacing* ~ ">"
  bool html_raw_end_tag() {
    return rule<kNormal>(Rule::html_raw_end_tag, [this] {
      if (!(literal("</") && html_raw_tag_name())) return false;
      attributes_and_spacing();
      return byte('>');
    });
  }

  // html_raw_end_tag as the lookahead of html_raw_content tries it, at every
  // `</c-raw` of the content. A template comment or a quoted value may hold
  // `</c-raw` itself and end where a comment or value of an earlier try ends,
  // so tries converge: after a comment in their spacing, on an attribute, and
  // after an attribute. From such a point a try goes on exactly as the first
  // one that reached it in the same state, so what that one learnt is kept by
  // offset (raw_points_) and the later ones take it instead of walking again.
  // A stretch of whitespace or of an attribute is then walked only by tries
  // that enter it from its start, in one of a few states, and every try costs
  // a bounded amount besides the stretches it walks first. A plain `</c-raw>`
  // touches no table.
  //
  // Taking what was learnt leaves the error report as the walk would. Inside
  // this lookahead only matched spacing rules and the comments in them count
  // (as unexpected), and a walk from a point in one state makes the same
  // counts as the first walk from it. Each count of that walk moved the
  // furthest failure to at least its offset, so a rerun could only count at or
  // before the furthest failure: before it nothing changes, at it only rules
  // already in the lists come again, and the lists are made unique. No rule
  // that counts is open at the point itself (a spacing rule around a comment
  // opened before the comment; the end tag counts nothing in this atomic
  // content), so the rules around the walk, which still finish with the
  // learnt outcome, count the same either way.
  bool raw_end_tag_ahead() {
    return rule<kNormal>(Rule::html_raw_end_tag, [this] {
      if (!(literal("</") && html_raw_tag_name())) return false;
      raw_boundaries_.clear();
      bool matched = false;
      bool known = false;
      while (sequence([this] { return raw_spacing_with_whitespace() && raw_attribute(); })) {
        if (const RawPoint* point = raw_points_.find(pos_); point != nullptr && (point->flags & kTryKnown) != 0) {
          matched = (point->flags & kTryMatched) != 0;
          known = true;
          break;
        }
        raw_boundaries_.push_back(pos_);
      }
      if (!known) {
        raw_spacing_star();
        matched = byte('>');
      }
      for (const std::uint32_t boundary : raw_boundaries_) {
        raw_points_.at(boundary).flags |= kTryKnown | (matched ? kTryMatched : 0);
      }
      return matched;
    });
  }

  // spacing_with_whitespace inside raw_end_tag_ahead. Its runs take every
  // WHITESPACE and template comment in a row, and it matches when a
  // WHITESPACE is among them: the row is walked one element at a time, which
  // counts the same comments in the same order.
  bool raw_spacing_with_whitespace() {
    if (cannot_open_with(at_spacing())) return false;
    return rule<kCompound>(Rule::spacing_with_whitespace, [this] {
      return raw_spacing_row(kRestWalkedWithWhitespace, [this] { return whitespace() || template_comment(); });
    });
  }

  // `spacing*` inside raw_end_tag_ahead.
  void raw_spacing_star() {
    raw_spacing_row(kRestWalkedAsSpacing, [this] { return spacing(); });
  }

  // Walks a row of spacing elements from the cursor, `element` taking one.
  // After each comment, the rest of the row may be known from an earlier
  // walk of the same kind (`walked`: the two kinds count different rules).
  // Returns whether a WHITESPACE lies in the row.
  template <class Element>
  bool raw_spacing_row(std::uint8_t walked, Element&& element) {
    raw_comment_ends_.clear();
    bool whitespace_seen = false;
    std::uint32_t last_whitespace = 0;
    bool rest_has_whitespace = false;
    for (;;) {
      const std::uint32_t at = pos_;
      if (!element()) break;
      if (s_[at] != '{') {
        whitespace_seen = true;
        last_whitespace = at;
        continue;
      }
      if (const RawPoint* point = raw_points_.find(pos_); point != nullptr && (point->flags & walked) != 0) {
        rest_has_whitespace = (point->flags & kRestHasWhitespace) != 0;
        pos_ = point->spacing_end;
        break;
      }
      raw_comment_ends_.push_back(pos_);
    }
    for (const std::uint32_t comment_end : raw_comment_ends_) {
      RawPoint& point = raw_points_.at(comment_end);
      point.spacing_end = pos_;
      const bool has_whitespace = rest_has_whitespace || (whitespace_seen && last_whitespace >= comment_end);
      point.flags |= walked | (has_whitespace ? kRestHasWhitespace : 0);
    }
    return whitespace_seen || rest_has_whitespace;
  }

  // html_attribute inside raw_end_tag_ahead, where it counts nothing and
  // leaves no records: only its outcome and end matter.
  bool raw_attribute() {
    if (const RawPoint* point = raw_points_.find(pos_); point != nullptr && (point->flags & kAttributeKnown) != 0) {
      if ((point->flags & kAttributeMatched) == 0) return false;
      pos_ = point->attribute_end;
      return true;
    }
    const std::uint32_t start = pos_;
    const bool matched = html_attribute();
    RawPoint& point = raw_points_.at(start);
    point.attribute_end = pos_;
    point.flags |= kAttributeKnown | (matched ? kAttributeMatched : 0);
    return matched;
  }

  // html_raw_content = (!html_raw_end_tag ~ ANY)*
  // The end tag can only match where
  // `</c-raw` stands; everywhere else the lookahead fails at its first
  // literals, inside this atomic rule, without any effect, so only those
  // places are tried.
  //
  // A scan that finds no end tag runs to the end of the input, where the
  // html_raw_end_tag that follows it fails and moves the furthest failure to
  // the end. From then on the lookaheads can only count rules that matched
  // before the end, which changes nothing, so a later scan from a point past
  // the start of that scan (every `<c-raw>` of a long run without an end tag)
  // goes straight to the end instead of trying each `</c-raw` again.
  bool html_raw_content() {
    return rule<kAtomic>(Rule::html_raw_content, [this] {
      if (pos_ >= no_raw_end_from_ && (!tracks_attempts() || furthest() == n_)) {
        pos_ = n_;
        return true;
      }
      const std::uint32_t from = pos_;
      for (;;) {
        const std::uint32_t at = raw_end_.find(input_, pos_);
        if (at == TerminatorSearch::kNone) {
          pos_ = n_;
          no_raw_end_from_ = std::min(no_raw_end_from_, from);
          return true;
        }
        pos_ = at;
        if (!not_followed_by([this] { return raw_end_tag_ahead(); })) return true;
        if (fatal()) return false;
        ++pos_;  // the `<`
      }
    });
  }

  // html_raw_tag_name = "c-raw"
  bool html_raw_tag_name() {
    return rule<kAtomic>(Rule::html_raw_tag_name, [this] { return literal("c-raw"); });
  }

  // html_tag = html_start_tag | html_end_tag | html_self_closing_tag
  bool html_tag() {
    // Each alternative opens with "<".
    if (cannot_open_with(next_is('<'))) return false;
    return rule<kNormal>(Rule::html_tag, [this] {
      return html_start_tag() || html_end_tag() || html_self_closing_tag();
    });
  }

  // html_start_tag = "<" ~ html_tag_name ~ (spacing_with_whitespace ~ html_attribute)*
  //     ~ spacing* ~ ">"
  bool html_start_tag() {
    if (!next_is('<')) return rule_fails_at_once<kCompound>(Rule::html_start_tag);
    // html_tag_name opens with a letter.
    if (cannot_open_with(has(2) && (kClass[s_[pos_ + 1]] & kAsciiLetter) != 0)) return false;
    return rule<kCompound>(Rule::html_start_tag, [this] {
      if (!(byte('<') && html_tag_name())) return false;
      attributes_and_spacing();
      return byte('>');
    });
  }

  // html_end_tag = "</" ~ html_tag_name ~ (spacing_with_whitespace ~ html_attribute)*
  //     ~ spacing* ~ ">"
  bool html_end_tag() {
    if (!next_is('<')) return rule_fails_at_once<kCompound>(Rule::html_end_tag);
    if (cannot_open("</")) return false;
    return rule<kCompound>(Rule::html_end_tag, [this] {
      if (!(literal("</") && html_tag_name())) return false;
      attributes_and_spacing();
      return byte('>');
    });
  }

  // html_self_closing_tag = "<" ~ html_tag_name ~ (spacing_with_whitespace ~ html_attribute)*
  //     ~ spacing* ~ "/" ~ ">"
  bool html_self_closing_tag() {
    if (!next_is('<')) return rule_fails_at_once<kCompound>(Rule::html_self_closing_tag);
    return rule<kCompound>(Rule::html_self_closing_tag, [this] {
      if (!(byte('<') && html_tag_name())) return false;
      attributes_and_spacing();
      return literal("/>");
    });
  }

  // html_tag_name = ('a'..'z' | 'A'..'Z') ~ (!(WHITESPACE | "/" | ">" | "{#") ~ ANY)*
  bool html_tag_name() {
    return rule<kAtomic>(Rule::html_tag_name, [this] {
      if (at_end() || (kClass[s_[pos_]] & kAsciiLetter) == 0) return false;
      pos_ = scan_to<kTagNameStop>(pos_ + 1);
      return true;
    });
  }

  // html_attribute = (html_meta_attribute_name | html_attribute_name) ~ html_attribute_value?
  bool html_attribute() {
    // Neither kind of name can open here when no name byte follows (the meta
    // name's "#c-" is made of name bytes).
    if (cannot_open_with(scan_to<kAttrNameStop>(pos_) != pos_)) return false;
    return rule<kNormal>(Rule::html_attribute, [this] {
      if (!(html_meta_attribute_name() || html_attribute_name())) return false;
      html_attribute_value();
      return true;
    });
  }

  // html_meta_attribute_name = "#c-" ~ (!(WHITESPACE | "=" | "/" | ">" | "<" | "{#") ~ ANY)*
  bool html_meta_attribute_name() {
    if (cannot_open("#c-")) return false;
    return rule<kAtomic>(Rule::html_meta_attribute_name, [this] {
      if (!literal("#c-")) return false;
      pos_ = scan_to<kAttrNameStop>(pos_);
      return true;
    });
  }

  // html_attribute_name = (!(WHITESPACE | "=" | "/" | ">" | "<" | "{#") ~ ANY)+
  bool html_attribute_name() {
    return rule<kAtomic>(Rule::html_attribute_name, [this] {
      const std::uint32_t end = scan_to<kAttrNameStop>(pos_);
      if (end == pos_) return false;
      pos_ = end;
      return true;
    });
  }

  // html_attribute_value = WHITESPACE* ~ "=" ~ WHITESPACE*
  //     ~ (double_quoted_value | single_quoted_value | unquoted_value)
  bool html_attribute_value() {
    return rule<kNormal>(Rule::html_attribute_value, [this] {
      while (whitespace()) {
      }
      if (!byte('=')) return false;
      while (whitespace()) {
      }
      return double_quoted_value() || single_quoted_value() || unquoted_value();
    });
  }

  // double_quoted_value = "\"" ~ (!"\"" ~ ANY)* ~ "\""
  bool double_quoted_value() {
    return rule<kAtomic>(Rule::double_quoted_value, [this] {
      if (!byte('"')) return false;
      skip_to(double_quote_);
      return byte('"');
    });
  }

  // single_quoted_value = "'" ~ (!"'" ~ ANY)* ~ "'"
  bool single_quoted_value() {
    return rule<kAtomic>(Rule::single_quoted_value, [this] {
      if (!byte('\'')) return false;
      skip_to(single_quote_);
      return byte('\'');
    });
  }

  // unquoted_value = (!(WHITESPACE | "\"" | "'" | "=" | "<" | ">" | "{#") ~ ANY)+
  bool unquoted_value() {
    return rule<kAtomic>(Rule::unquoted_value, [this] {
      const std::uint32_t end = scan_to<kUnquotedStop>(pos_);
      if (end == pos_) return false;
      pos_ = end;
      return true;
    });
  }

  // template_expression = "{{" ~ WHITESPACE* ~ python_expr ~ WHITESPACE* ~ "}}"
  bool template_expression() {
    if (!next_is('{')) return rule_fails_at_once<kCompound>(Rule::template_expression);
    if (cannot_open("{{")) return false;
    return rule<kCompound>(Rule::template_expression, [this] {
      if (!literal("{{")) return false;
      while (whitespace()) {
      }
      if (!python_expr()) return false;
      while (whitespace()) {
      }
      return literal("}}");
    });
  }

  // template_comment = "{#" ~ template_comment_content ~ "#}"
  bool template_comment() {
    if (!next_is('{')) return rule_fails_at_once<kAtomic>(Rule::template_comment);
    if (cannot_open("{#")) return false;
    return rule<kAtomic>(Rule::template_comment, [this] {
      return literal("{#") && template_comment_content() && literal("#}");
    });
  }

  // template_comment_content = (!"#}" ~ ANY)*
  bool template_comment_content() {
    return rule<kAtomic>(Rule::template_comment_content, [this] {
      skip_to(template_comment_end_);
      return true;
    });
  }

  // text = (!("<" ~ ('a'..'z' | 'A'..'Z' | "/" | "!" | "?")) ~ !"{{" ~ !"{#" ~ ANY)+
  bool text() {
    return rule<kAtomic>(Rule::text, [this] {
      const std::string_view whole(input_.data(), n_);
      std::uint32_t p = pos_;
      while (p < n_) {
        // Only a `<` or a `{` can end the text: skip to the next one.
        p = static_cast<std::uint32_t>(text::find_first_of_bytes(whole, p, '<', '{'));
        if (p + 1 >= n_) {
          p = n_;
          break;
        }
        const unsigned char next = s_[p + 1];
        if (s_[p] == '<' ? (kClass[next] & kMarkupOpener) != 0 : (next == '{' || next == '#')) break;
        ++p;
      }
      if (p == pos_) return false;
      pos_ = p;
      return true;
    });
  }

  // python_expr = (python_str_triple_double | python_str_triple_single | python_str_double
  //     | python_str_single | python_nested_curly | python_other_char)*
  bool python_expr() {
    return rule<kCompound>(Rule::python_expr, [this] {
      if (!expression_parts_) {
        python_expr_parts_unrecorded();
        return true;
      }
      while (python_str_triple_double() || python_str_triple_single() || python_str_double() ||
             python_str_single() || python_nested_curly() || python_other_char()) {
      }
      return true;
    });
  }

  // The loop of python_expr without records of its parts: the same
  // alternatives in the same order, so it ends where the loop ends, and with
  // the same fatal error. Only in a run that keeps no account of attempts,
  // where those rule calls have no effect but their records and the cursor.
  void python_expr_parts_unrecorded() {
    for (;;) {
      // python_other_char, over a run of characters that open nothing.
      while (pos_ < n_ && (kClass[s_[pos_]] & kExprSpecial) == 0) pos_ = std::min(n_, pos_ + utf8_length(s_[pos_]));
      if (pos_ >= n_ || s_[pos_] == '}') return;
      const std::uint32_t at = pos_;
      if (s_[pos_] == '{') {
        // python_nested_curly, or the end: `{` is no python_other_char.
        if (depth_ >= kMaxBraceNesting) {
          fail_fatally(pos_, fmt::format("too many nested braces in expression (more than {} levels)",
                                         kMaxBraceNesting));
          return;
        }
        ++depth_;
        ++pos_;
        python_expr_parts_unrecorded();
        --depth_;
        if (fatal()) return;
        if (byte('}')) continue;
        pos_ = at;
        return;
      }
      // A quote: the string rules that open with it, else python_other_char.
      const char quote = static_cast<char>(s_[pos_]);
      const bool double_quote = quote == '"';
      if (peek_literal(double_quote ? "\"\"\"" : "'''")) {
        pos_ += 3;
        skip_to(double_quote ? triple_double_ : triple_single_);
        if (literal(double_quote ? "\"\"\"" : "'''")) continue;
        pos_ = at;
      }
      if (quoted_python_string(quote, double_quote ? unclosed_double_ : unclosed_single_)) continue;
      pos_ = at;
      any();
    }
  }

  // python_str_triple_double = "\"\"\"" ~ (!"\"\"\"" ~ ANY)* ~ "\"\"\""
  bool python_str_triple_double() {
    if (!next_is('"')) return rule_fails_at_once<kAtomic>(Rule::python_str_triple_double);
    if (cannot_open("\"\"\"")) return false;
    return rule<kAtomic>(Rule::python_str_triple_double, [this] {
      if (!literal("\"\"\"")) return false;
      skip_to(triple_double_);
      return literal("\"\"\"");
    });
  }

  // python_str_triple_single = "'''" ~ (!"'''" ~ ANY)* ~ "'''"
  bool python_str_triple_single() {
    if (!next_is('\'')) return rule_fails_at_once<kAtomic>(Rule::python_str_triple_single);
    if (cannot_open("'''")) return false;
    return rule<kAtomic>(Rule::python_str_triple_single, [this] {
      if (!literal("'''")) return false;
      skip_to(triple_single_);
      return literal("'''");
    });
  }

  // python_str_double = "\"" ~ (python_esc | !"\"" ~ ANY)* ~ "\""
  // python_str_single = "'" ~ (python_esc | !"'" ~ ANY)* ~ "'"
  // python_esc = "\\" ~ ANY
  //
  // When the string opened at q never closes, every quote after q that
  // opens a string lies inside that scan, escaped (an unescaped one would
  // have closed it), so the scan from the character after it falls in step
  // with the one from q and runs off the end as well. Remembering q keeps a
  // run of escaped quotes from being rescanned once per quote.
  bool quoted_python_string(char quote, std::uint32_t& unclosed_from) {
    if (pos_ >= unclosed_from) return false;
    const std::uint32_t open = pos_;
    if (!byte(quote)) return false;
    std::uint32_t p = pos_;
    const auto q = static_cast<unsigned char>(quote);
    while (p < n_) {
      const unsigned char c = s_[p];
      if (c == q) {
        pos_ = p + 1;
        return true;
      }
      if (c == '\\' && p + 1 < n_) {
        p += 1 + utf8_length(s_[p + 1]);
      } else {
        ++p;  // a backslash at the very end is an ordinary character
      }
    }
    unclosed_from = open;
    return false;
  }

  bool python_str_double() {
    if (!next_is('"')) return rule_fails_at_once<kAtomic>(Rule::python_str_double);
    return rule<kAtomic>(Rule::python_str_double,
                         [this] { return quoted_python_string('"', unclosed_double_); });
  }

  bool python_str_single() {
    if (!next_is('\'')) return rule_fails_at_once<kAtomic>(Rule::python_str_single);
    return rule<kAtomic>(Rule::python_str_single,
                         [this] { return quoted_python_string('\'', unclosed_single_); });
  }

  // python_nested_curly = "{" ~ python_expr ~ "}"
  bool python_nested_curly() {
    return rule<kSilent>(Rule::python_nested_curly, [this] {
      if (at_end() || s_[pos_] != '{') return false;
      if (depth_ >= kMaxBraceNesting) {
        fail_fatally(pos_, fmt::format("too many nested braces in expression (more than {} levels)",
                                       kMaxBraceNesting));
        return false;
      }
      ++depth_;
      const bool matched = sequence([this] { return byte('{') && python_expr() && byte('}'); });
      --depth_;
      return matched;
    });
  }

  // python_other_char = !"}" ~ !"{" ~ ANY
  bool python_other_char() {
    return rule<kNormal>(Rule::python_other_char, [this] {
      if (at_end() || s_[pos_] == '}' || s_[pos_] == '{') return false;
      return any();
    });
  }

  // fill_data_destructure = "{" ~ fill_data_ws ~ fill_data_item
  //     ~ (fill_data_ws ~ "," ~ fill_data_ws ~ fill_data_item)* ~ fill_data_ws ~ ","?
  //     ~ fill_data_ws ~ "}"
  bool fill_data_destructure() {
    return rule<kNormal>(Rule::fill_data_destructure, [this] {
      if (!byte('{')) return false;
      fill_data_ws();
      if (!fill_data_item()) return false;
      while (sequence([this] {
        fill_data_ws();
        if (!byte(',')) return false;
        fill_data_ws();
        return fill_data_item();
      })) {
      }
      fill_data_ws();
      byte(',');
      fill_data_ws();
      return byte('}');
    });
  }

  // fill_data_item = fill_data_rest | fill_data_field
  bool fill_data_item() {
    return rule<kNormal>(Rule::fill_data_item,
                         [this] { return fill_data_rest() || fill_data_field(); });
  }

  // fill_data_rest = "**" ~ fill_data_ws ~ fill_data_identifier
  bool fill_data_rest() {
    return rule<kNormal>(Rule::fill_data_rest, [this] {
      if (!literal("**")) return false;
      fill_data_ws();
      return fill_data_identifier();
    });
  }

  // fill_data_field = fill_data_identifier
  //     ~ (fill_data_ws_required ~ "as" ~ fill_data_ws_required ~ fill_data_identifier)?
  bool fill_data_field() {
    return rule<kNormal>(Rule::fill_data_field, [this] {
      if (!fill_data_identifier()) return false;
      sequence([this] {
        return fill_data_ws_required() && literal("as") && fill_data_ws_required() &&
               fill_data_identifier();
      });
      return true;
    });
  }

  // Decodes the character at `p` (valid UTF-8 assumed; anything else decodes
  // to a value no property holds).
  char32_t char_at(std::uint32_t p, std::uint32_t& length) const noexcept {
    const unsigned char lead = s_[p];
    length = std::min(utf8_length(lead), n_ - p);
    if (length == 1) return lead < 0x80 ? lead : 0xFFFFFFFF;
    char32_t c = lead & (0x7F >> length);
    for (std::uint32_t i = 1; i < length; ++i) c = (c << 6) | (s_[p + i] & 0x3F);
    return c;
  }

  // fill_data_identifier = ("_" | XID_START) ~ ("_" | XID_CONTINUE)*
  bool fill_data_identifier() {
    return rule<kAtomic>(Rule::fill_data_identifier, [this] {
      if (at_end()) return false;
      std::uint32_t length = 0;
      const char32_t first = char_at(pos_, length);
      if (first != U'_' && !is_xid_start(first)) return false;
      pos_ += length;
      while (!at_end()) {
        const char32_t c = char_at(pos_, length);
        if (c != U'_' && !is_xid_continue(c)) break;
        pos_ += length;
      }
      return true;
    });
  }

  // fill_data_ws = WHITESPACE*
  bool fill_data_ws() {
    return rule<kSilent>(Rule::fill_data_ws, [this] {
      while (whitespace()) {
      }
      return true;
    });
  }

  // fill_data_ws_required = WHITESPACE+
  bool fill_data_ws_required() {
    return rule<kSilent>(Rule::fill_data_ws_required, [this] {
      if (!whitespace()) return false;
      while (whitespace()) {
      }
      return true;
    });
  }

  // spacing = WHITESPACE | template_comment
  bool spacing() {
    if (cannot_open_with(at_spacing())) return false;
    return rule<kCompound>(Rule::spacing, [this] { return whitespace() || template_comment(); });
  }

  // spacing_with_whitespace = (template_comment* ~ WHITESPACE ~ template_comment*)+
  bool spacing_with_whitespace() {
    if (cannot_open_with(at_spacing())) return false;
    return rule<kCompound>(Rule::spacing_with_whitespace, [this] {
      const auto run = [this] {
        return sequence([this] {
          while (template_comment()) {
          }
          if (!whitespace()) return false;
          while (template_comment()) {
          }
          return true;
        });
      };
      if (!run()) return false;
      while (run()) {
      }
      return true;
    });
  }

  // WHITESPACE = " " | "\t" | "\n" | "\r" (silent, no inner rules: a byte test)
  bool whitespace() noexcept {
    if (pos_ < n_ && (kClass[s_[pos_]] & kWhitespace) != 0) {
      ++pos_;
      return true;
    }
    return false;
  }

  // Whether the parts of python_expr leave records.
  bool expression_parts_;
  int depth_ = 0;
  std::uint32_t unclosed_double_ = UINT32_MAX;
  std::uint32_t unclosed_single_ = UINT32_MAX;
  std::uint32_t no_raw_end_from_ = UINT32_MAX;

  // What raw end tag tries learnt at an offset.
  struct RawPoint {
    std::uint32_t spacing_end;    // the end of the row of spacing from here
    std::uint32_t attribute_end;  // the end of the attribute that starts here
    std::uint8_t flags;
  };
  enum : std::uint8_t {
    kRestWalkedWithWhitespace = 1 << 0,  // the rest of a spacing_with_whitespace
    kRestWalkedAsSpacing = 1 << 1,       // the rest of a `spacing*`
    kRestHasWhitespace = 1 << 2,         // between here and spacing_end
    kAttributeKnown = 1 << 3,
    kAttributeMatched = 1 << 4,
    kTryKnown = 1 << 5,  // a try went on from here after an attribute
    kTryMatched = 1 << 6,
  };
  detail::PositionTable<RawPoint> raw_points_;
  std::vector<std::uint32_t> raw_boundaries_;
  std::vector<std::uint32_t> raw_comment_ends_;
  TerminatorSearch comment_end_{"-->"};
  TerminatorSearch angle_close_{">"};
  TerminatorSearch raw_end_{"</c-raw"};
  TerminatorSearch double_quote_{"\""};
  TerminatorSearch single_quote_{"'"};
  TerminatorSearch template_comment_end_{"#}"};
  TerminatorSearch triple_double_{"\"\"\""};
  TerminatorSearch triple_single_{"'''"};
};

}  // namespace

GrammarResult template_grammar_parse(Rule start, std::string_view input, Records records) {
  // Offsets are 32-bit; a template of 4 GiB is far beyond any real page.
  if (input.size() >= UINT32_MAX) {
    return GrammarError::at_pos(input, 0,
                                "input too large for the template grammar (4 GiB or more)");
  }
  if (start != Rule::template_ && start != Rule::fill_data_pattern) {
    return GrammarError::at_pos(
        input, 0, fmt::format("Internal error: {} is not a start rule of the template grammar",
                              rule_name(start)));
  }

  // Most inputs parse: the first run keeps no account of failed attempts,
  // and only a failure runs again with it to say what was expected where.
  for (const bool track_attempts : {false, true}) {
    TemplateRecogniser recogniser(input, track_attempts, records);
    const bool matched =
        start == Rule::template_ ? recogniser.template_() : recogniser.fill_data_pattern();
    if (recogniser.fatal()) {
      return GrammarError::at_pos(input, recogniser.fatal_pos(),
                                  std::move(recogniser.fatal_message()));
    }
    if (matched) return ParseTree(input, std::move(recogniser.records()));
    if (track_attempts) {
      return GrammarError::from_attempts(input, recogniser.furthest(),
                                         std::move(recogniser.expected()),
                                         std::move(recogniser.unexpected()));
    }
  }
  return GrammarError::at_pos(input, 0, "Internal error: the template grammar ended without a result");
}

}  // namespace lumra::grammar
