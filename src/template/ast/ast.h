// The template syntax tree: plain value records built by the template parser,
// read (and rewritten on its own copy) by the compiler, and wrapped one by one
// by the Python classes of `template_parser`.
//
// Conventions:
// - A token's text is a shared view (see token_text.h); offsets are byte
//   offsets into the whole input, `line_col` is (line, column) from 1 with the
//   column counted in characters.
// - No record checks relations between its fields.
// - Lists are `List<T>` (list.h): vectors over the per-thread block pool;
//   the lists that every level repeats of its descendants (used variables,
//   comments, static slots) are `SharedList`s (shared_list.h): runs of one
//   store that a parse writes.
// - The tree recurses Template -> TemplateElement -> Node::WithBody -> Template.
//   A node holds its body through `Body`, a copy-on-write handle: copying a
//   node or a template is cheap (bodies are shared until written), reading is
//   `node.body->elements`, writing goes through `node.body.mut()`, which first
//   makes the body private to this node. Shared bodies are never changed, so a
//   copy behaves exactly like a deep copy.
// - Trees built from Python can be arbitrarily deep: equality, the debug form
//   and destruction walk bodies with explicit work lists, never by recursion.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "template/ast/list.h"
#include "template/ast/shared_list.h"
#include "template/ast/token.h"
#include "template/ast/token_text.h"

namespace lumra::template_ast {

// `token` spans the whole comment with its delimiters, `value` the text inside.
struct Comment {
  Token token;
  Token value;

  friend bool operator==(const Comment&, const Comment&) = default;
};

inline Comment copy_with(TokenBatch& texts, const Comment& comment) {
  return Comment{copy_with(texts, comment.token), copy_with(texts, comment.value)};
}
using SharedComments = SharedList<Comment>;

// One `source as target` field of a `<c-fill data="{ ... }">` binding.
struct FillDataField {
  Token source;
  Token target;

  friend bool operator==(const FillDataField&, const FillDataField&) = default;
};

// The parsed `data` binding of a `<c-fill>`.
struct FillDataPattern {
  Token token;
  std::optional<Token> whole;
  List<FillDataField> fields;
  std::optional<Token> rest;

  friend bool operator==(const FillDataPattern&, const FillDataPattern&) = default;
};

// An optional value kept on the heap, for a large field that most records
// leave empty (only a <c-fill>'s binding has a data pattern). Copies are deep.
template <class T>
class HeapOptional {
 public:
  HeapOptional() noexcept = default;
  HeapOptional(std::nullopt_t) noexcept {}                                   // NOLINT
  HeapOptional(T value) : ptr_(std::make_unique<T>(std::move(value))) {}     // NOLINT
  HeapOptional(std::optional<T> value) {                                     // NOLINT
    if (value) ptr_ = std::make_unique<T>(std::move(*value));
  }
  HeapOptional(const HeapOptional& other) : ptr_(other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr) {}
  HeapOptional(HeapOptional&&) noexcept = default;
  HeapOptional& operator=(const HeapOptional& other) {
    if (this != &other) ptr_ = other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr;
    return *this;
  }
  HeapOptional& operator=(HeapOptional&&) noexcept = default;

  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  bool has_value() const noexcept { return ptr_ != nullptr; }
  T& operator*() noexcept { return *ptr_; }
  const T& operator*() const noexcept { return *ptr_; }
  T* operator->() noexcept { return ptr_.get(); }
  const T* operator->() const noexcept { return ptr_.get(); }
  void reset() noexcept { ptr_.reset(); }

  friend bool operator==(const HeapOptional& a, const HeapOptional& b) {
    if (!a.ptr_ || !b.ptr_) return !a.ptr_ && !b.ptr_;
    return *a.ptr_ == *b.ptr_;
  }

 private:
  std::unique_ptr<T> ptr_;
};

enum class HtmlAttrKind : std::uint8_t {
  Static = 0,
  Expression = 1,
  Template = 2,
  Meta = 3,
};

struct HtmlAttr {
  Token token;
  Token key;
  std::optional<Token> value;        // with quotes; absent for a bare attribute
  std::optional<Token> inner_value;  // without quotes
  std::optional<char32_t> quote_char;
  HtmlAttrKind kind = HtmlAttrKind::Static;
  List<Comment> comments;
  List<Token> used_variables;
  HeapOptional<FillDataPattern> fill_data_pattern;

  friend bool operator==(const HtmlAttr&, const HtmlAttr&) = default;
};

struct HtmlStartTag {
  Token token;
  Token name;
  List<HtmlAttr> attrs;
  bool is_self_closing = false;
  List<Comment> comments;

  friend bool operator==(const HtmlStartTag&, const HtmlStartTag&) = default;
};

struct HtmlEndTag {
  Token token;
  Token name;
  List<Comment> comments;

  friend bool operator==(const HtmlEndTag&, const HtmlEndTag&) = default;
};

struct Text {
  Token token;

  friend bool operator==(const Text&, const Text&) = default;
};

struct Expr {
  Token token;  // the whole `{{ ... }}`
  Token value;  // the expression text
  List<Token> used_variables;
  List<Comment> comments;

  friend bool operator==(const Expr&, const Expr&) = default;
};

struct StaticNamedSlot {
  Token token;                    // the slot name
  std::optional<bool> required;  // absent: decided at run time (c-bind, c-required)

  friend bool operator==(const StaticNamedSlot&, const StaticNamedSlot&) = default;
};

inline StaticNamedSlot copy_with(TokenBatch& texts, const StaticNamedSlot& slot) {
  return StaticNamedSlot{copy_with(texts, slot.token), slot.required};
}
using SharedSlots = SharedList<StaticNamedSlot>;

struct Template;

// Copy-on-write owner of a node's body. A default-constructed (or moved-from)
// body reads as an empty template.
class Body {
 public:
  Body() = default;
  explicit Body(Template body);

  const Template& get() const;
  const Template& operator*() const { return get(); }
  const Template* operator->() const { return &get(); }

  // The body for writing; unshares it first when another copy refers to it.
  Template& mut();

  // Value equality of the two bodies (deep, without recursion).
  friend bool operator==(const Body& a, const Body& b);

 private:
  friend struct Template;
  std::shared_ptr<Template> ptr_;
};

// The two shapes of a Node. Declared outside Node so that they are complete,
// default member initialisers included, where Node's variant needs them.
struct NodeWithBody {
  HtmlStartTag start_tag;
  HtmlEndTag end_tag;
  Body body;
  SharedTokens used_variables;
  List<Token> introduced_variables;
  SharedComments comments;
  bool contains_fills = false;

  friend bool operator==(const NodeWithBody&, const NodeWithBody&) = default;
};

struct NodeSelfClosing {
  HtmlStartTag start_tag;
  SharedTokens used_variables;
  List<Token> introduced_variables;
  SharedComments comments;
  bool contains_fills = false;

  friend bool operator==(const NodeSelfClosing&, const NodeSelfClosing&) = default;
};

struct Node {
  using WithBody = NodeWithBody;
  using SelfClosing = NodeSelfClosing;

  std::variant<WithBody, SelfClosing> value;

  Node() = default;
  Node(WithBody n) : value(std::move(n)) {}
  Node(SelfClosing n) : value(std::move(n)) {}

  bool has_body() const { return value.index() == 0; }
  WithBody* with_body() { return std::get_if<WithBody>(&value); }
  const WithBody* with_body() const { return std::get_if<WithBody>(&value); }
  SelfClosing* self_closing() { return std::get_if<SelfClosing>(&value); }
  const SelfClosing* self_closing() const { return std::get_if<SelfClosing>(&value); }

  // Fields that both variants have.
  HtmlStartTag& start_tag();
  const HtmlStartTag& start_tag() const;
  SharedTokens& used_variables();
  const SharedTokens& used_variables() const;
  List<Token>& introduced_variables();
  const List<Token>& introduced_variables() const;
  SharedComments& comments();
  const SharedComments& comments() const;
  bool& contains_fills();
  bool contains_fills() const;

  // Turns a node with a body into a self-closing one, dropping end tag and body.
  void drop_body();

  friend bool operator==(const Node&, const Node&) = default;
};

struct TemplateElement {
  std::variant<Node, Expr, Text> value;

  TemplateElement() = default;
  TemplateElement(Node n) : value(std::move(n)) {}
  TemplateElement(Expr e) : value(std::move(e)) {}
  TemplateElement(Text t) : value(std::move(t)) {}
  // An empty text made where it stands, for the parser to fill in place
  // (moving a just-built record in stalls on its stores).
  explicit TemplateElement(std::in_place_type_t<Text>) : value(std::in_place_type<Text>) {}

  Node* node() { return std::get_if<Node>(&value); }
  const Node* node() const { return std::get_if<Node>(&value); }
  Expr* expr() { return std::get_if<Expr>(&value); }
  const Expr* expr() const { return std::get_if<Expr>(&value); }
  Text* text() { return std::get_if<Text>(&value); }
  const Text* text() const { return std::get_if<Text>(&value); }

  friend bool operator==(const TemplateElement&, const TemplateElement&) = default;
};

struct Template {
  List<TemplateElement> elements;
  SharedComments comments;       // at any nesting level
  SharedTokens used_variables;   // context variables the template needs
  SharedSlots slots;             // `<c-slot>`s with a static name, at any depth

  Template() = default;
  Template(const Template&) = default;
  Template(Template&&) noexcept = default;
  Template& operator=(const Template&) = default;
  Template& operator=(Template&&) noexcept = default;
  // Releases nested bodies one at a time, so a deep tree cannot exhaust the stack.
  ~Template();

  // Compares elements, comments, used_variables and slots, without recursion
  // (equal_trees).
  friend bool operator==(const Template& a, const Template& b);
};

struct ListReads;
// Template equality, in time linear in the two trees whatever their depth
// (see list_equality.h); `reads`, when given, counts what the lists cost.
bool equal_trees(const Template& a, const Template& b, ListReads* reads = nullptr);

inline Body::Body(Template body)
    : ptr_(std::allocate_shared<Template>(memory::PoolAllocator<Template>(), std::move(body))) {}

}  // namespace lumra::template_ast
