// The compiler's walk: a template's elements to the value tree.
//
// Each element list goes through three passes. Control-flow attributes on
// ordinary elements (`<li c-for="x in xs">`) become wrapper nodes, as if the
// tag were written around the element; then every element is lowered by its
// kind and tag name; static text merges as the pieces land in their list.
//
// Plain elements write their body into their parent's list, so nesting them
// adds no brackets to the generated code: those bodies are walked with an
// explicit stack, however deep. Only bodies that become lists of their own
// (components, slots, fills, control-flow branches) recurse, each step at
// least two brackets deeper, and the bracket bound stops the recursion.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>

#include "memory/block_pool.h"
#include "template/ast/names.h"
#include "template/ast/tag_rules.h"
#include "template/compiler/compiler.h"
#include "template/compiler/lowering.h"
#include "template/compiler/messages.h"

namespace lumra::template_compiler {

void Pieces::text(std::string_view text) {
  if (!in_text_) {
    in_text_ = true;
    text_.clear();
  }
  text_.append(text);
}

void Pieces::end_text() {
  if (!in_text_) return;
  stack_.push_back(IrNode::str(text_));
  in_text_ = false;
}

IrNode Pieces::take_list() {
  end_text();
  IrNode list = IrNode::list(std::span(stack_).subspan(base_));
  stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(base_), stack_.end());
  return list;
}

Status Pieces::push(IrNode node) {
  if (level_ + node.depth() > kMaxBracketDepth) return nested_too_deeply();
  if (node.kind() == IrNode::Kind::Str) {
    text(node.text());
    return std::nullopt;
  }
  end_text();
  if (node.kind() == IrNode::Kind::QuotedStr && stack_.size() > base_ &&
      stack_.back().kind() == IrNode::Kind::QuotedStr) {
    stack_.back().append_text(node.text());
  } else {
    stack_.push_back(node);
  }
  return std::nullopt;
}

CompileError nested_too_deeply() { return value_error(fmt::format(msg::kNestedTooDeeply, kMaxBracketDepth)); }

std::pair<std::uint64_t, std::uint64_t> element_span(const tast::Node& node) {
  const std::uint64_t start = node.start_tag().token.start_index;
  if (const auto* n = node.with_body()) return {start, n->end_tag.token.end_index};
  return {start, node.start_tag().token.end_index};
}

namespace {

// Brackets that each kind of owned body sits under, counted from the list
// that holds the owner: call and list; call, branch tuple, branch and list.
constexpr std::uint32_t kCallBodyDepth = 2;
constexpr std::uint32_t kBranchBodyDepth = 4;

// The control-flow attribute that pass 1 moves: the first of the if chain,
// else the first of the for chain.
std::optional<std::size_t> control_flow_attribute(const tast::HtmlStartTag& tag) {
  std::optional<std::size_t> loop;
  for (std::size_t i = 0; i < tag.attrs.size(); ++i) {
    const auto group = tast::control_flow_group(tag.attrs[i].key.content);
    if (group == 0) return i;
    if (group == 1 && !loop) loop = i;
  }
  return loop;
}

// `<p c-if="a">` as `<c-if cond="a"><p></p></c-if>`: the wrapper spans the
// element, takes the attribute under the name the tag's rules give it, and
// lists the element's variables before the attribute's. Both nodes keep the
// element's list as it is, shared: `edits` gets what the move changes in it,
// for the element (at index 0) and for the wrapper (at index 1).
Lowered<tast::Node> wrap_in_control_flow(const tast::Node& element, std::size_t index, const UsedEdit* element_edit,
                                         std::array<UsedEdit, 2>& edits) {
  tast::Node changed = element;  // shares the body and the lists
  tast::HtmlAttr moved = std::move(changed.start_tag().attrs[index]);
  changed.start_tag().attrs.erase(changed.start_tag().attrs.begin() + static_cast<std::ptrdiff_t>(index));
  const std::string key = moved.key.content.str();

  const tast::TagRules* rules = tast::builtin_tag_rules(key);
  if (rules == nullptr) return value_error(fmt::format(msg::kControlFlowRulesMissing, key));
  if (!rules->allowed_attrs) return value_error(fmt::format(msg::kControlFlowRulesAllowAny, key));
  const std::vector<tast::AttrGroup>& groups = *rules->allowed_attrs;
  if (groups.size() > 1 || (groups.size() == 1 && groups[0].size() != 1)) {
    return value_error(fmt::format(msg::kControlFlowRulesAllowMany, key));
  }

  UsedEdit& edit = edits[0];
  if (element_edit != nullptr) edit.removed = element_edit->removed;
  edit.removed.insert(edit.removed.end(), moved.used_variables.begin(), moved.used_variables.end());
  edits[1].removed = edit.removed;
  edits[1].appended = moved.used_variables;

  tast::Node::WithBody wrapper;
  const tast::HtmlStartTag& tag = element.start_tag();
  wrapper.start_tag.token = tag.token;
  wrapper.start_tag.name = tast::Token{key, tag.name.start_index, tag.name.end_index, tag.name.line_col};
  wrapper.start_tag.comments = moved.comments;
  const tast::Token& end = element.has_body() ? element.with_body()->end_tag.token : tag.token;
  wrapper.end_tag.token = tast::Token{fmt::format("</{}>", key), end.start_index, end.end_index, end.line_col};
  wrapper.end_tag.name = tast::Token{key, end.start_index, end.end_index, end.line_col};
  wrapper.used_variables = changed.used_variables();
  if (key == "c-for") wrapper.introduced_variables = std::exchange(changed.introduced_variables(), {});
  if (groups.size() == 1) {
    moved.key.content = groups[0][0];
    wrapper.start_tag.attrs.push_back(std::move(moved));
  }
  tast::Template body;  // the compiler reads only the elements
  body.elements.emplace_back(std::move(changed));
  wrapper.body = tast::Body(std::move(body));
  return tast::Node(std::move(wrapper));
}

class Walk {
 public:
  Lowered<IrNode> lower_list(std::span<const tast::TemplateElement> elements, std::uint32_t level);

 private:
  // Plain elements open in one list, innermost last: their stream items
  // (items_[begin, end)), the next one to lower, the end tag to write, and
  // how many nodes the walk had made before the frame (made_[made...] live
  // only as long as it).
  struct Frame {
    std::size_t begin;
    std::size_t next;
    std::size_t end;
    std::optional<std::string_view> closing;  // none for the list's own elements
    std::size_t made;
  };
  // Pooled, as every list the walk makes: one is made for each element list.
  using Frames = std::vector<Frame, memory::PoolAllocator<Frame>>;

  // Pass 1 over one element list: its stream items, appended to items_.
  Status add_stream(std::span<const tast::TemplateElement> elements);
  // Lowers one node of the innermost frame; may open a frame for its body.
  Status lower_node(const tast::Node& node, Frames& frames, Pieces& out);
  Status lower_group(const tast::Node& first, const ControlGroup& group, Frame& frame, Pieces& out);
  Status lower_component(const tast::Node& node, Pieces& out);
  Lowered<IrNode> lower_body(const tast::Node& node, std::uint32_t level);
  // Keeps a node made by the compiler for as long as the frame that made it;
  // a copy of `like` has its list edited alike.
  const tast::Node& keep(tast::Node node, const tast::Node* like = nullptr);
  void drop_made(std::size_t size);
  // The distinct names of a node's used variables, as written.
  std::span<const std::string_view> used_names(const tast::Node& node);
  const UsedEdit* edit_of(const tast::Node& node) const {
    if (edits_.empty()) return nullptr;
    const auto it = edits_.find(&node);
    return it == edits_.end() ? nullptr : &it->second;
  }

  std::vector<StreamItem> items_;  // the open frames' items, a stack
  std::vector<IrNode> pieces_;     // the items of the lists being filled
  std::deque<tast::Node, memory::PoolAllocator<tast::Node>> made_;  // stable addresses
  // What the moves of control-flow attributes change in the lists of the
  // made nodes (and of the elements inside wrappers), by node.
  std::unordered_map<const tast::Node*, UsedEdit> edits_;
  UsedNames names_;
};

const tast::Node& Walk::keep(tast::Node node, const tast::Node* like) {
  const tast::Node& kept = made_.emplace_back(std::move(node));
  if (like != nullptr) {
    if (const UsedEdit* edit = edit_of(*like)) edits_.emplace(&kept, *edit);
  }
  return kept;
}

void Walk::drop_made(std::size_t size) {
  while (made_.size() > size) {
    const tast::Node& node = made_.back();
    if (!edits_.empty() && edits_.erase(&node) != 0) {
      // A wrapper: the element inside it has its edit too.
      if (const auto* n = node.with_body(); n && !n->body->elements.empty()) {
        if (const tast::Node* inner = n->body->elements.front().node()) edits_.erase(inner);
      }
    }
    made_.pop_back();
  }
}

std::span<const std::string_view> Walk::used_names(const tast::Node& node) {
  return names_.of(node.used_variables(), edit_of(node));
}

Status Walk::add_stream(std::span<const tast::TemplateElement> elements) {
  for (const tast::TemplateElement& e : elements) {
    StreamItem item;
    if (const tast::Node* node = e.node()) {
      const tast::HtmlStartTag& tag = node->start_tag();
      const auto index = tast::is_control_flow_name(tag.name.content) ? std::nullopt : control_flow_attribute(tag);
      if (index) {
        std::array<UsedEdit, 2> edits;
        Lowered<tast::Node> wrapped = wrap_in_control_flow(*node, *index, edit_of(*node), edits);
        if (auto* error = std::get_if<CompileError>(&wrapped)) return std::move(*error);
        node = &keep(std::move(std::get<tast::Node>(wrapped)));
        edits_.insert_or_assign(node->with_body()->body->elements.front().node(), std::move(edits[0]));
        edits_.insert_or_assign(node, std::move(edits[1]));
      }
      item.node = node;
    } else if (const tast::Expr* expr = e.expr()) {
      item.expr = expr;
    } else {
      item.text = e.text();
    }
    items_.push_back(item);
  }
  return std::nullopt;
}

Lowered<IrNode> Walk::lower_list(std::span<const tast::TemplateElement> elements, std::uint32_t level) {
  if (level > kMaxBracketDepth) return nested_too_deeply();
  Pieces out(level, pieces_);
  Frames frames;
  const std::size_t base = items_.size();
  const std::size_t made = made_.size();
  if (auto error = add_stream(elements)) return std::move(*error);
  frames.push_back(Frame{base, base, items_.size(), std::nullopt, made});

  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.end) {
      if (frame.closing) close_element_tag(*frame.closing, out);
      items_.resize(frame.begin);
      drop_made(frame.made);
      frames.pop_back();
      continue;
    }
    const StreamItem item = items_[frame.next++];
    Status error;
    if (item.text != nullptr) {
      out.text(item.text->token.content);
    } else if (const tast::Expr* e = item.expr) {
      error = out.push(make_expr_node(e->token.start_index, e->token.end_index, e->value.content, e->used_variables));
    } else {
      error = lower_node(*item.node, frames, out);
    }
    if (error) return std::move(*error);
  }
  return out.take_list();
}

Lowered<IrNode> Walk::lower_body(const tast::Node& node, std::uint32_t level) {
  if (const auto* n = node.with_body()) return lower_list(n->body->elements, level);
  return IrNode::list({});
}

Status Walk::lower_node(const tast::Node& node, Frames& frames, Pieces& out) {
  const std::string_view name = node.start_tag().name.content;
  if (const ControlGroup* group = control_group_of(name)) return lower_group(node, *group, frames.back(), out);

  if (name == "c-slot" || name == "c-fill") {
    Lowered<IrNode> attrs = compile_ordinary_attributes(node.start_tag().attrs);
    if (auto* error = std::get_if<CompileError>(&attrs)) return std::move(*error);
    Lowered<IrNode> body = lower_body(node, out.level() + kCallBodyDepth);
    if (auto* error = std::get_if<CompileError>(&body)) return std::move(*error);
    return out.push(compile_slot_or_fill(name == "c-slot" ? rt::kSlotNode : rt::kFillNode, node,
                                         std::move(std::get<IrNode>(attrs)), std::get<IrNode>(body),
                                         unique_normalised_names(used_names(node))));
  }

  if (name == "c-raw") {
    if (const auto* n = node.with_body()) {
      for (const tast::TemplateElement& e : n->body->elements) {
        if (const tast::Text* t = e.text()) out.text(t->token.content);
      }
    }
    return std::nullopt;
  }

  if (name == "c-component") {
    if (auto error = check_is_attributes(node)) return error;
    if (const auto is = static_is_value(node)) {
      tast::Node named = node;
      named.start_tag().name.content = fmt::format("c-{}", *is);
      remove_is_attributes(named.start_tag().attrs);
      return lower_component(keep(std::move(named), &node), out);
    }
    return lower_component(node, out);
  }

  const tast::Node* element = &node;
  if (name == "c-element") {
    if (auto error = check_is_attributes(node)) return error;
    const auto is = node.contains_fills() ? std::nullopt : static_is_value(node);
    if (!is) return lower_component(node, out);
    if (auto error = check_element_name(*is)) return error;
    tast::Node named = node;
    named.start_tag().name.content = std::string(*is);
    remove_is_attributes(named.start_tag().attrs);
    if (tast::is_void_element(*is)) {
      if (const auto* n = named.with_body(); n && has_significant_content(n->body->elements)) {
        return syntax_error(fmt::format(msg::kVoidElementChildren, *is));
      }
      named.drop_body();
    }
    element = &keep(std::move(named), &node);
  } else if (name.starts_with("c-")) {
    return lower_component(node, out);
  }

  if (auto error = open_element_tag(*element, out)) return error;
  if (const auto* n = element->with_body()) {
    const std::size_t begin = items_.size();
    const std::size_t made = made_.size();
    if (auto error = add_stream(n->body->elements)) return error;
    frames.push_back(Frame{begin, begin, items_.size(), element->start_tag().name.content, made});
  }
  return std::nullopt;
}

Status Walk::lower_component(const tast::Node& node, Pieces& out) {
  Lowered<IrNode> body = lower_body(node, out.level() + kCallBodyDepth);
  if (auto* error = std::get_if<CompileError>(&body)) return std::move(*error);
  Lowered<IrNode> call = compile_component(node, std::get<IrNode>(body), unique_normalised_names(used_names(node)));
  if (auto* error = std::get_if<CompileError>(&call)) return std::move(*error);
  return out.push(std::move(std::get<IrNode>(call)));
}

Status Walk::lower_group(const tast::Node& first, const ControlGroup& group, Frame& frame, Pieces& out) {
  std::vector<const tast::Node*> members{&first};
  std::size_t next = frame.next - frame.begin;
  const auto [held_begin, held_end] = collect_chain_members(
      std::span<const StreamItem>(items_).subspan(frame.begin, frame.end - frame.begin), next, group, members);
  frame.next = frame.begin + next;
  // Lowering the branches below grows items_; indices stay valid, pointers not.
  const std::size_t held_from = frame.begin + held_begin;
  const std::size_t held_to = frame.begin + held_end;

  NameList used;
  std::vector<IrNode> branches;
  branches.reserve(members.size());
  for (const tast::Node* member : members) {
    Lowered<IrNode> attrs = compile_ordinary_attributes(member->start_tag().attrs);
    if (auto* error = std::get_if<CompileError>(&attrs)) return std::move(*error);
    Lowered<IrNode> body = lower_body(*member, out.level() + kBranchBodyDepth);
    if (auto* error = std::get_if<CompileError>(&body)) return std::move(*error);
    // After the body, whose lists the member's list then takes whole.
    for (std::string_view name : used_names(*member)) used.add(std::string(name));
    branches.push_back(control_branch(*member, std::move(std::get<IrNode>(attrs)),
                                      std::get<IrNode>(body)));
  }
  if (auto error = out.push(
          IrNode::call(group.class_name, {IrNode::raw(rt::kSource), IrNode::tuple(branches), used.take_tuple()}))) {
    return error;
  }
  // Whitespace after the last member stays in the output.
  for (std::size_t i = held_from; i < held_to; ++i) out.text(items_[i].text->token.content);
  return std::nullopt;
}

}  // namespace

CompileResult compile_elements(const tast::Template& tmpl, IrArena& arena) {
  const IrArena::Scope scope(arena);
  Walk walk;
  Lowered<IrNode> result = walk.lower_list(tmpl.elements, 1);
  if (auto* error = std::get_if<CompileError>(&result)) return std::move(*error);
  const auto items = std::get<IrNode>(result).items();
  return std::vector<IrNode>(items.begin(), items.end());
}

}  // namespace lumra::template_compiler
