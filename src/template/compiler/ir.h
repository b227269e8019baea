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
#include <variant>
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
  static IrNode integer(std::uint64_t value) { return IrNode(Kind::Int, value, 0); }
  // The tuple (start, end,) without a list of its own: every runtime node
  // takes one, so it is the commonest tuple by far.
  static IrNode span(std::uint64_t start, std::uint64_t end) { return IrNode(Kind::Span, start, end); }
  static IrNode boolean(bool value) { return IrNode(Kind::Bool, value ? 1 : 0, 0); }
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
  std::string_view text() const noexcept {
    if (is_text()) return std::get<std::string>(payload_);
    return has_name() ? scalar_.name : std::string_view();
  }
  // Int and Bool: the value; Span: the start.
  std::uint64_t number() const noexcept { return has_name() ? 0 : scalar_.numbers.first; }
  // Span: the end.
  std::uint64_t span_end() const noexcept { return has_name() ? 0 : scalar_.numbers.second; }
  bool flag() const noexcept { return number() != 0; }
  // Tuple and List items, Call arguments.
  const std::vector<IrNode>& items() const noexcept {
    static const std::vector<IrNode> kNone;
    const auto* items = std::get_if<std::vector<IrNode>>(&payload_);
    return items != nullptr ? *items : kNone;
  }

  // Str and QuotedStr only: extends the text (adjacent static pieces merge).
  void append_text(std::string_view more) { std::get<std::string>(payload_).append(more); }

  friend bool operator==(const IrNode& a, const IrNode& b) {
    return a.kind_ == b.kind_ && a.depth_ == b.depth_ && a.text() == b.text() && a.number() == b.number() &&
           a.span_end() == b.span_end() && a.payload_ == b.payload_;
  }

 private:
  IrNode(Kind kind, std::string_view name, std::vector<IrNode> items = {}) : kind_(kind) {
    scalar_.name = name;
    if (kind == Kind::Tuple || kind == Kind::List || kind == Kind::Call) {
      std::uint32_t inner = 0;
      for (const IrNode& item : items) inner = std::max(inner, item.depth_);
      depth_ = inner + 1;
      payload_ = std::move(items);
    }
  }
  IrNode(Kind kind, std::string text) : kind_(kind), payload_(std::move(text)) {}
  IrNode(Kind kind, std::uint64_t first, std::uint64_t second) : kind_(kind), depth_(kind == Kind::Span ? 1 : 0) {
    scalar_.numbers = {first, second};
  }

  bool is_text() const noexcept { return kind_ == Kind::Str || kind_ == Kind::QuotedStr; }
  bool has_name() const noexcept {
    return kind_ == Kind::Raw || kind_ == Kind::Call || kind_ == Kind::Tuple || kind_ == Kind::List;
  }

  // Nodes are many: the scalar parts share one place, as do text and items.
  struct Numbers {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
  };
  union Scalar {
    Scalar() : numbers{} {}
    Numbers numbers;
    std::string_view name;  // Raw, Call (empty for Tuple and List)
  };

  Kind kind_;
  std::uint32_t depth_ = 0;
  Scalar scalar_;
  std::variant<std::string, std::vector<IrNode>> payload_;
};

}  // namespace lumra::template_compiler
