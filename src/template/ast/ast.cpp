#include "template/ast/ast.h"

#include <functional>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "template/ast/list_equality.h"

namespace lumra::template_ast {

namespace {

const Template& empty_template() {
  static const Template empty;
  return empty;
}

// The list comparisons of one equality walk.
struct ListsEqual {
  explicit ListsEqual(ListReads* reads) : used(reads), comments(reads), slots(reads) {}
  ListEquality<Token> used;
  ListEquality<Comment> comments;
  ListEquality<StaticNamedSlot> slots;
};

// Fields of a node's variant that sit outside its body, but for the lists it
// holds of its descendants; compared without touching the body so that
// bodies can go on the caller's work list.
bool same_node_shell(const Node& a, const Node& b) {
  if (a.value.index() != b.value.index()) return false;
  return a.contains_fills() == b.contains_fills() && a.start_tag() == b.start_tag() &&
         a.introduced_variables() == b.introduced_variables() &&
         (!a.has_body() || a.with_body()->end_tag == b.with_body()->end_tag);
}

// A level of two trees whose lists are compared: both templates, or both nodes.
struct LevelPair {
  const void* x;
  const void* y;
  bool nodes;
};

bool same_lists(const LevelPair& level, ListsEqual& lists) {
  if (level.nodes) {
    const Node& x = *static_cast<const Node*>(level.x);
    const Node& y = *static_cast<const Node*>(level.y);
    return lists.used.equal(x.used_variables(), y.used_variables()) && lists.comments.equal(x.comments(), y.comments());
  }
  const Template& x = *static_cast<const Template*>(level.x);
  const Template& y = *static_cast<const Template*>(level.y);
  return lists.comments.equal(x.comments, y.comments) && lists.used.equal(x.used_variables, y.used_variables) &&
         lists.slots.equal(x.slots, y.slots);
}

}  // namespace

// --- Body ---------------------------------------------------------------

const Template& Body::get() const { return ptr_ ? *ptr_ : empty_template(); }

Template& Body::mut() {
  if (!ptr_) {
    ptr_ = std::allocate_shared<Template>(memory::PoolAllocator<Template>());
  } else if (ptr_.use_count() != 1) {
    // One level is copied; the nested bodies stay shared until written.
    ptr_ = std::allocate_shared<Template>(memory::PoolAllocator<Template>(), *ptr_);
  }
  return *ptr_;
}

bool operator==(const Body& a, const Body& b) {
  if (a.ptr_ == b.ptr_) return true;
  return a.get() == b.get();
}

// --- Node ---------------------------------------------------------------

HtmlStartTag& Node::start_tag() {
  return std::visit([](auto& n) -> HtmlStartTag& { return n.start_tag; }, value);
}
const HtmlStartTag& Node::start_tag() const {
  return std::visit([](const auto& n) -> const HtmlStartTag& { return n.start_tag; }, value);
}

SharedTokens& Node::used_variables() {
  return std::visit([](auto& n) -> SharedTokens& { return n.used_variables; }, value);
}
const SharedTokens& Node::used_variables() const {
  return std::visit([](const auto& n) -> const SharedTokens& { return n.used_variables; }, value);
}
List<Token>& Node::introduced_variables() {
  return std::visit([](auto& n) -> List<Token>& { return n.introduced_variables; }, value);
}
const List<Token>& Node::introduced_variables() const {
  return std::visit([](const auto& n) -> const List<Token>& { return n.introduced_variables; }, value);
}
SharedComments& Node::comments() {
  return std::visit([](auto& n) -> SharedComments& { return n.comments; }, value);
}
const SharedComments& Node::comments() const {
  return std::visit([](const auto& n) -> const SharedComments& { return n.comments; }, value);
}
bool& Node::contains_fills() {
  return std::visit([](auto& n) -> bool& { return n.contains_fills; }, value);
}
bool Node::contains_fills() const {
  return std::visit([](const auto& n) { return n.contains_fills; }, value);
}

void Node::drop_body() {
  auto* wb = with_body();
  if (!wb) return;
  SelfClosing sc{std::move(wb->start_tag), std::move(wb->used_variables),
                 std::move(wb->introduced_variables), std::move(wb->comments),
                 wb->contains_fills};
  value = std::move(sc);
}

// --- Template -----------------------------------------------------------

Template::~Template() {
  // Every nested body is moved onto a work list before its owner goes, so no
  // destructor below finds anything left to recurse into. A body that is
  // still shared (with another copy, or with another node of this same tree)
  // only loses one reference when it leaves the list; whichever reference
  // goes last takes its children onto the list in turn.
  std::vector<std::shared_ptr<Template>> pending;
  auto take_bodies = [&pending](List<TemplateElement>& elements) {
    for (auto& element : elements) {
      Node* node = element.node();
      if (!node) continue;
      Node::WithBody* wb = node->with_body();
      if (wb && wb->body.ptr_) {
        // Without memory for the work list the body is released in place:
        // one level of recursion, after which its own destructor iterates.
        try {
          pending.push_back(std::move(wb->body.ptr_));
        } catch (const std::bad_alloc&) {
        }
      }
    }
  };
  take_bodies(elements);
  while (!pending.empty()) {
    std::shared_ptr<Template> next = std::move(pending.back());
    pending.pop_back();
    if (next.use_count() == 1) take_bodies(next->elements);
    next.reset();
  }
}

bool operator==(const Template& a, const Template& b) { return equal_trees(a, b); }

bool equal_trees(const Template& a, const Template& b, ListReads* reads) {
  using Pair = std::pair<const Template*, const Template*>;
  struct PairHash {
    std::size_t operator()(const Pair& p) const noexcept {
      const auto h = std::hash<const void*>{};
      return h(p.first) * 31 + h(p.second);
    }
  };
  // First everything but the lists that each level holds of its descendants,
  // each part once. A parse writes those lists from the rest, so two parsed
  // trees that differ differ here too; a difference that a loop leaves out
  // of the lists around it would otherwise be found only once every level
  // above it had compared its lists, which then no longer agree in place.
  std::vector<Pair> pending{{&a, &b}};
  // Bodies shared by several nodes (copies of one node) are compared once per
  // pair: a tree that shares a body at every level is not walked once per path.
  std::unordered_set<Pair, PairHash> seen;
  // The levels met, outer before inner, whose lists are compared next.
  std::vector<LevelPair> levels;
  while (!pending.empty()) {
    auto [x, y] = pending.back();
    pending.pop_back();
    if (x == y || !seen.insert({x, y}).second) continue;
    if (x->elements.size() != y->elements.size()) return false;
    levels.push_back({x, y, false});
    for (std::size_t i = 0; i < x->elements.size(); ++i) {
      const TemplateElement& ex = x->elements[i];
      const TemplateElement& ey = y->elements[i];
      if (ex.value.index() != ey.value.index()) return false;
      if (const Node* nx = ex.node()) {
        const Node* ny = ey.node();
        if (!same_node_shell(*nx, *ny)) return false;
        levels.push_back({nx, ny, true});
        if (const auto* wx = nx->with_body()) {
          pending.emplace_back(&*wx->body, &*ny->with_body()->body);
        }
      } else if (const Expr* e = ex.expr()) {
        if (!(*e == *ey.expr())) return false;
      } else if (!(*ex.text() == *ey.text())) {
        return false;
      }
    }
  }
  ListsEqual lists(reads);
  for (const LevelPair& level : levels) {
    if (!same_lists(level, lists)) return false;
  }
  return true;
}

}  // namespace lumra::template_ast
