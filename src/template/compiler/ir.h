// The language-neutral value tree that the compiler builds from a template
// and a language backend renders as source text: literals, tuples, lists and
// calls of the runtime's node classes.
//
// Every value knows how many brackets it opens at its deepest point, counted
// as it is built. The compiler refuses a tree deeper than kMaxBracketDepth, so
// a renderer may recurse over any tree the compiler hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace lumra::template_compiler {

// CPython refuses source with more than 200 brackets open at once; stay
// clear of that with a margin.
inline constexpr std::uint32_t kMaxBracketDepth = 190;

class IrNode;

// Storage of one value tree: the item lists and texts of its nodes, released
// all at once with the arena. A tree holds thousands of small lists and
// strings, and allocating and freeing each on its own was a fifth of
// compiling. IrNode's factories allocate in the arena of the innermost Scope
// of the calling thread, so building a tree takes no arena argument at every
// call; without a Scope they throw std::logic_error.
class IrArena {
 public:
  IrArena() = default;
  IrArena(const IrArena&) = delete;
  IrArena& operator=(const IrArena&) = delete;
  ~IrArena();

  class Scope {
   public:
    explicit Scope(IrArena& arena) noexcept;
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    IrArena* previous_;
  };

  static IrArena& current();

  // Uninitialised room for `count` nodes.
  IrNode* allocate_nodes(std::size_t count);
  // A copy of `text` (the empty text needs no room).
  std::string_view copy(std::string_view text);
  // `text` followed by `more`; extends `text` in place when it is the last
  // text copied and the block has room.
  std::string_view concat(std::string_view text, std::string_view more);

 private:
  struct Block {
    std::unique_ptr<std::byte[]> bytes;
    std::size_t size;
  };
  struct Region {
    std::vector<Block> blocks;
    std::byte* cursor = nullptr;
    std::byte* end = nullptr;

    // `align` is a power of two. Inline: a tree takes room thousands of times.
    std::byte* take(std::size_t size, std::size_t align) {
      const std::size_t padding = (0 - reinterpret_cast<std::uintptr_t>(cursor)) & (align - 1);
      if (cursor != nullptr && static_cast<std::size_t>(end - cursor) >= size + padding) [[likely]] {
        std::byte* out = cursor + padding;
        cursor = out + size;
        return out;
      }
      return take_from_new_block(size, align);
    }
    std::byte* take_from_new_block(std::size_t size, std::size_t align);
  };
  Region nodes_;
  Region texts_;
};

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

  // `name` must be static text of this program (it is written unescaped, and
  // viewed, not copied).
  static IrNode raw(std::string_view name) {
    IrNode node(Kind::Raw);
    node.text_ = name;
    return node;
  }
  static IrNode str(std::string_view text) { return copied(Kind::Str, text); }
  static IrNode quoted(std::string_view text) { return copied(Kind::QuotedStr, text); }
  static IrNode integer(std::uint64_t value) { return numbers(Kind::Int, value, 0); }
  // The tuple (start, end,) without a list of its own: every runtime node
  // takes one, so it is the commonest tuple by far.
  static IrNode span(std::uint64_t start, std::uint64_t end) { return numbers(Kind::Span, start, end); }
  static IrNode boolean(bool value) { return numbers(Kind::Bool, value ? 1 : 0, 0); }
  static IrNode tuple(std::span<const IrNode> items) { return sequence(Kind::Tuple, {}, items); }
  static IrNode tuple(std::initializer_list<IrNode> items) { return tuple(std::span(items.begin(), items.size())); }
  // A tuple of `count` items made by `item(i)` in order, written straight
  // into the arena (no list to build first).
  template <class MakeItem>
  static IrNode tuple_of(std::size_t count, MakeItem&& item) {
    IrNode node(Kind::Tuple);
    IrNode* stored = count == 0 ? nullptr : IrArena::current().allocate_nodes(count);
    std::uint32_t inner = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const IrNode made = item(i);
      inner = made.depth_ > inner ? made.depth_ : inner;
      ::new (static_cast<void*>(stored + i)) IrNode(made);
    }
    node.depth_ = inner + 1;
    node.payload_.items = {stored, count};
    return node;
  }
  static IrNode list(std::span<const IrNode> items) { return sequence(Kind::List, {}, items); }
  // `name` must be static text of this program (it is written unescaped).
  static IrNode call(std::string_view name, std::span<const IrNode> args) {
    return sequence(Kind::Call, name, args);
  }
  static IrNode call(std::string_view name, std::initializer_list<IrNode> args) {
    return call(name, std::span(args.begin(), args.size()));
  }

  Kind kind() const noexcept { return kind_; }
  // Brackets this value opens at its deepest point: 0 for a scalar.
  std::uint32_t depth() const noexcept { return depth_; }
  // Raw and Call: the name; Str and QuotedStr: the text.
  std::string_view text() const noexcept { return text_; }
  // Int and Bool: the value; Span: the start.
  std::uint64_t number() const noexcept { return has_items() ? 0 : payload_.numbers.first; }
  // Span: the end.
  std::uint64_t span_end() const noexcept { return has_items() ? 0 : payload_.numbers.second; }
  bool flag() const noexcept { return number() != 0; }
  // Tuple and List items, Call arguments.
  std::span<const IrNode> items() const noexcept {
    if (!has_items()) return {};
    return {payload_.items.data, payload_.items.size};
  }

  // Str and QuotedStr only: extends the text (adjacent static pieces merge).
  void append_text(std::string_view more) { text_ = IrArena::current().concat(text_, more); }

  friend bool operator==(const IrNode& a, const IrNode& b);

 private:
  explicit IrNode(Kind kind) noexcept : kind_(kind) { payload_.numbers = {}; }
  static IrNode copied(Kind kind, std::string_view text) {
    IrNode node(kind);
    node.text_ = IrArena::current().copy(text);
    return node;
  }
  static IrNode numbers(Kind kind, std::uint64_t first, std::uint64_t second) {
    IrNode node(kind);
    node.depth_ = kind == Kind::Span ? 1 : 0;
    node.payload_.numbers = {first, second};
    return node;
  }
  static IrNode sequence(Kind kind, std::string_view name, std::span<const IrNode> items);

  bool has_items() const noexcept { return kind_ == Kind::Tuple || kind_ == Kind::List || kind_ == Kind::Call; }

  // Nodes are many and plain: copying one copies views, and the arena frees
  // everything they point to.
  struct Numbers {
    std::uint64_t first;
    std::uint64_t second;
  };
  struct Items {
    const IrNode* data;
    std::size_t size;
  };
  union Payload {
    Numbers numbers;
    Items items;
  };

  Kind kind_;
  std::uint32_t depth_ = 0;
  std::string_view text_;
  Payload payload_;
};

static_assert(std::is_trivially_copyable_v<IrNode> && std::is_trivially_destructible_v<IrNode>);

}  // namespace lumra::template_compiler
