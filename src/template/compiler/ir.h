// The language-neutral value tree that the compiler builds from a template
// and a language backend renders as source text: literals, tuples, lists and
// calls of the runtime's node classes.
//
// Every value knows how many brackets it opens at its deepest point, counted
// as it is built. The compiler refuses a tree deeper than kMaxBracketDepth, so
// a renderer may recurse over any tree the compiler hands out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumra::template_compiler {

// CPython refuses source with more than 200 brackets open at once; stay
// clear of that with a margin.
inline constexpr std::uint32_t kMaxBracketDepth = 190;

class IrNode {
 public:
  enum class Kind : std::uint8_t {
    Raw,        // a name of the generated code, written as it is
    Str,        // template text or markup: a triple-quoted string
    QuotedStr,  // a name placed inside a call: a double-quoted string
    Int,        // an unsigned integer
    Span,       // a pair of unsigned integers, a tuple of two: (start, end,)
    Bool,
    Tuple,
    List,
    Call,       // a runtime class called with positional arguments
  };

  // `name` must be static text of this program (it is written unescaped).
  static IrNode raw(std::string_view name) { return IrNode(Kind::Raw, name); }
  static IrNode str(std::string text) { return IrNode(Kind::Str, std::move(text)); }
  static IrNode quoted(std::string text) { return IrNode(Kind::QuotedStr, std::move(text)); }
  static IrNode integer(std::uint64_t value) {
    IrNode n(Kind::Int, std::string_view());
    n.number_ = value;
    return n;
  }
  // The tuple (start, end,) without a list of its own: every runtime node
  // takes one, so it is the commonest tuple by far.
  static IrNode span(std::uint64_t start, std::uint64_t end) {
    IrNode n(Kind::Span, std::string_view());
    n.number_ = start;
    n.end_ = end;
    n.depth_ = 1;
    return n;
  }
  static IrNode boolean(bool value) {
    IrNode n(Kind::Bool, std::string_view());
    n.number_ = value ? 1 : 0;
    return n;
  }
  static IrNode tuple(std::vector<IrNode> items) { return IrNode(Kind::Tuple, std::string_view(), std::move(items)); }
  static IrNode list(std::vector<IrNode> items) { return IrNode(Kind::List, std::string_view(), std::move(items)); }
  // `name` must be static text of this program (it is written unescaped).
  static IrNode call(std::string_view name, std::vector<IrNode> args) {
    return IrNode(Kind::Call, name, std::move(args));
  }

  Kind kind() const noexcept { return kind_; }
  // Brackets this value opens at its deepest point: 0 for a scalar.
  std::uint32_t depth() const noexcept { return depth_; }
  // Raw and Call: the name; Str and QuotedStr: the text.
  std::string_view text() const noexcept { return is_text() ? std::string_view(text_) : name_; }
  // Int: the value; Span: the start.
  std::uint64_t number() const noexcept { return number_; }
  // Span: the end.
  std::uint64_t span_end() const noexcept { return end_; }
  bool flag() const noexcept { return number_ != 0; }
  // Tuple and List items, Call arguments.
  const std::vector<IrNode>& items() const noexcept { return items_; }

  // Str and QuotedStr only: extends the text (adjacent static pieces merge).
  void append_text(std::string_view more) { text_.append(more); }

  friend bool operator==(const IrNode&, const IrNode&) = default;

 private:
  IrNode(Kind kind, std::string_view name, std::vector<IrNode> items = {})
      : kind_(kind), name_(name), items_(std::move(items)) {
    if (kind == Kind::Tuple || kind == Kind::List || kind == Kind::Call) {
      std::uint32_t inner = 0;
      for (const IrNode& item : items_) inner = std::max(inner, item.depth_);
      depth_ = inner + 1;
    }
  }
  IrNode(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  bool is_text() const noexcept { return kind_ == Kind::Str || kind_ == Kind::QuotedStr; }

  Kind kind_;
  std::uint32_t depth_ = 0;
  std::uint64_t number_ = 0;
  std::uint64_t end_ = 0;
  std::string_view name_;
  std::string text_;
  std::vector<IrNode> items_;
};

}  // namespace lumra::template_compiler
