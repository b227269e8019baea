// What the passes (compile.cpp) share with the lowering files: the list
// being built, the element stream, and the builders of attribute, element,
// component and control-flow values.
//
// The walk over the tree is compile.cpp's alone. The builders here never
// compile a body themselves: the walk lowers a body first and hands them the
// result, so the only recursion is the walk's, bounded by the bracket depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "hashing/keyed_hash.h"
#include "template/ast/ast.h"
#include "template/ast/open_names.h"
#include "template/compiler/errors.h"
#include "template/compiler/ir.h"

namespace lumra::template_compiler {

namespace tast = template_ast;

template <class T>
using Lowered = std::variant<T, CompileError>;

// Names of the generated code. Static text: written unescaped.
namespace rt {
inline constexpr std::string_view kSource = "source";
inline constexpr std::string_view kExprNode = "ExprNode";
inline constexpr std::string_view kStaticHtmlAttr = "StaticHtmlAttr";
inline constexpr std::string_view kExprHtmlAttr = "ExprHtmlAttr";
inline constexpr std::string_view kTemplateHtmlAttr = "TemplateHtmlAttr";
inline constexpr std::string_view kFillDataBinding = "FillDataBinding";
inline constexpr std::string_view kElementAttrsNode = "ElementAttrsNode";
inline constexpr std::string_view kComponentNode = "ComponentNode";
inline constexpr std::string_view kSlotNode = "SlotNode";
inline constexpr std::string_view kFillNode = "FillNode";
inline constexpr std::string_view kIfNode = "IfNode";
inline constexpr std::string_view kForNode = "ForNode";
}  // namespace rt

// One list of the value tree as it is filled, at its bracket depth (the
// top-level list is at 1). Adjacent Str pieces merge into one, as do
// adjacent QuotedStr pieces, so static text is merged once, where it lands.
// The last run of static text grows in a buffer of its own until something
// else lands, then goes into the arena as one Str.
//
// The items wait on `stack`, above what it held when the list began: a list
// begun while another is filled (a component's body) is taken before the
// outer one grows again, so every list's items stay together and the stack's
// storage serves every list of a compile.
class Pieces {
 public:
  Pieces(std::uint32_t level, std::vector<IrNode>& stack) : level_(level), stack_(stack), base_(stack.size()) {}
  ~Pieces() { stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(base_), stack_.end()); }
  Pieces(const Pieces&) = delete;
  Pieces& operator=(const Pieces&) = delete;

  std::uint32_t level() const noexcept { return level_; }
  // Appends static text (a Str piece).
  void text(std::string_view text);
  // Fails when the value would open brackets past kMaxBracketDepth.
  Status push(IrNode node);
  // The List of the items, which leave the stack.
  IrNode take_list();

 private:
  void end_text();

  std::uint32_t level_;
  std::vector<IrNode>& stack_;
  std::size_t base_;
  std::string text_;
  bool in_text_ = false;
};

// One element of a list after the control-flow attributes are wrapped:
// exactly one pointer is set.
struct StreamItem {
  const tast::Node* node = nullptr;
  const tast::Expr* expr = nullptr;
  const tast::Text* text = nullptr;
};

// The span of a whole element: start tag start to end tag end (start tag end
// for a self-closing node).
std::pair<std::uint64_t, std::uint64_t> element_span(const tast::Node& node);

// --- attributes.cpp ---

IrNode span_tuple(std::uint64_t start, std::uint64_t end);
// ExprNode(source, (start, end,), """value""", ("name", ...)).
IrNode make_expr_node(std::uint64_t start, std::uint64_t end, std::string_view value,
                      std::span<const tast::Token> used_variables);
// StaticHtmlAttr / ExprHtmlAttr / TemplateHtmlAttr by kind; none for Meta.
std::optional<std::string_view> attribute_class(tast::HtmlAttrKind kind);
IrNode compile_attribute(std::string_view class_name, const tast::HtmlAttr& attr);
// A Tuple of one call per attribute, or the error of the first Meta one.
Lowered<IrNode> compile_ordinary_attributes(std::span<const tast::HtmlAttr> attrs);

// Distinct names in order of first occurrence, compared as added (the caller
// normalises or not).
class NameList {
 public:
  void add(std::string name);
  std::size_t size() const noexcept { return names_.size(); }
  // A Tuple of one QuotedStr per name.
  IrNode take_tuple();

 private:
  std::vector<std::string> names_;
  hashing::TextSet<std::string> seen_;  // filled once the list is long
};

// The NFKC forms of the tokens' contents, each once, as a Tuple of QuotedStr.
IrNode unique_variable_names(std::span<const tast::Token> tokens);
// The same for names already distinct as written.
IrNode unique_normalised_names(std::span<const std::string_view> names);

// A node's used variables as the compiler's own rewrites leave them: the
// node's list less the tokens equal in every field to one of `removed`, then
// `appended` (an attribute moved out to a wrapper).
struct UsedEdit {
  tast::List<tast::Token> removed;
  tast::List<tast::Token> appended;
};

// The distinct names, as written, of nodes' used variables, in order of
// first occurrence.
//
// A parse lays each node's list out as one run of a shared store, and the
// runs of the nodes below it lie inside that run: read level by level, a use
// d levels deep would be read d times. So the names of every run read here
// are kept by where the run starts, and the read of an enclosing run takes
// them whole and jumps past it: each use is read about once, however deep.
//
// A run under a loop or a fill leaves names out through the records written
// inside it. The records of an inner run are applied in its kept names; of
// the enclosing run's other records, those open where the inner run starts
// cover it whole (ranges nest or lie apart), and leave its names out by key,
// as they would its tokens. So the enclosing read sweeps only its own tokens
// and records.
class UsedNames {
 public:
  // Runs this short cost less to read than to look up and keep: they are
  // read whole, which costs at most this many reads per node.
  static constexpr std::size_t kShortRun = 64;

  // The names of `tokens` as `edit` (if any) leaves it. The views stay valid
  // as long as the lists and the edit.
  std::span<const std::string_view> of(const tast::SharedTokens& tokens, const UsedEdit* edit);
  // Tokens read one by one so far, and names taken from runs already read.
  std::size_t tokens_read() const noexcept { return tokens_read_; }
  std::size_t names_taken() const noexcept { return names_taken_; }

 private:
  struct Run {
    const tast::Token* end;
    std::uint32_t left_begin;  // the records applied in `names`
    std::uint32_t left_end;
    std::vector<std::string_view> names;
    std::uint64_t lowest;   // least and greatest start_index of the run's tokens
    std::uint64_t highest;
    tast::SharedTokens keep;  // the store stays, so no other run can take its place
  };
  struct Met {
    const tast::Token* begin;
    const Run* run;
  };
  class Removed;
  // Sweeps the run's own tokens and records, taking the names of the runs
  // already read that lie directly inside and that `take_run` accepts.
  // False when the records do not nest around the met runs as a parse writes
  // them (the caller then reads the list whole).
  template <class Take, class TakeName, class TakeRun>
  bool sweep(const tast::SharedTokens::Layout& layout, Take&& take, TakeName&& take_name, TakeRun&& take_run);

  std::map<const tast::Token*, Run> runs_;  // by start
  std::vector<std::string_view> result_;
  // Scratch of one read, kept for their storage.
  std::vector<Met> met_;
  std::vector<const tast::LeftOut*> records_;
  std::vector<const tast::LeftOut*> open_;
  tast::OpenNames open_names_;
  std::size_t tokens_read_ = 0;
  std::size_t names_taken_ = 0;
};

// --- elements.cpp ---

// The start of a plain element: "<name", its attributes and metadata, then
// ">" (the body and end tag follow), "/>" (void) or "></name>".
Status open_element_tag(const tast::Node& node, Pieces& out);
void close_element_tag(std::string_view name, Pieces& out);

// --- components.cpp ---

Status check_is_attributes(const tast::Node& node);
std::optional<std::string_view> static_is_value(const tast::Node& node);
void remove_is_attributes(tast::List<tast::HtmlAttr>& attrs);
bool has_significant_content(std::span<const tast::TemplateElement> elements);
// The tag name a static `is` gives a <c-element>: an ASCII letter, then ASCII
// letters, digits, '-', '.' and '_'.
Status check_element_name(std::string_view name);
// ComponentNode(...) of a component whose body (a List) is already lowered,
// with the names its body and attributes use (a Tuple).
Lowered<IrNode> compile_component(const tast::Node& node, IrNode body, IrNode used_names);
// SlotNode(...) or FillNode(...) with the lowered attributes and body (a List)
// and the names they use (a Tuple).
IrNode compile_slot_or_fill(std::string_view class_name, const tast::Node& node, IrNode attrs, IrNode body,
                           IrNode used_names);

// --- control_flow.cpp ---

struct ControlGroup {
  std::string_view class_name;
  std::string_view first_tag;
  std::span<const std::string_view> continuation_tags;
};
// The group a tag name starts ("c-if", "c-for"), or null.
const ControlGroup* control_group_of(std::string_view tag);

// Takes from items[next...] the members that continue a group and every run
// of whitespace-only texts between them. Returns the range of the texts after
// the last member, which stay the caller's; `next` moves past that range.
std::pair<std::size_t, std::size_t> collect_chain_members(std::span<const StreamItem> items, std::size_t& next,
                                                          const ControlGroup& group,
                                                          std::vector<const tast::Node*>& members);
// One branch: (span, attributes, body (a List), introduced variables).
IrNode control_branch(const tast::Node& node, IrNode attrs, IrNode body);

}  // namespace lumra::template_compiler
