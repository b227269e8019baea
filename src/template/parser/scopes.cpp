#include "template/parser/scopes.h"

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "template/ast/names.h"
#include "template/parser/messages.h"
#include "text/unicode.h"

namespace lumra::template_parser {

namespace {

using template_ast::HtmlAttr;
using template_ast::Node;
using template_ast::Template;
using template_ast::Token;

using NameSet = std::unordered_set<std::string_view>;

// A node that loops on an ordinary element: its `c-for` attribute introduces
// variables that its other non-control-flow attributes may read.
bool loops_on_element(const Node& node) {
  const template_ast::HtmlStartTag& tag = node.start_tag();
  if (node.introduced_variables().empty() || tag.name.content == "c-for" || tag.name.content == "c-fill") {
    return false;
  }
  for (const HtmlAttr& attr : tag.attrs) {
    if (attr.key.content == "c-for") return true;
  }
  return false;
}

// Whether an attribute's variables leave out the node's loop variables.
bool reads_loop_variables(bool loop_on_element, const HtmlAttr& attr) {
  return loop_on_element && !template_ast::is_control_flow_name(attr.key.content);
}

class ScopePasses {
 public:
  explicit ScopePasses(const ParserContext& context) : context_(context) {}

  Status run(Template& top) {
    const std::vector<std::uint32_t> top_used = recompute(top);
    NameSet taken;
    taken.reserve(top_used.size());
    for (const std::uint32_t i : top_used) taken.insert(used_[i].key);
    return check_bindings(top, taken);
  }

 private:
  struct UsedVariable {
    const Token* token;
    std::string key;
  };

  // The introduced variables of the nodes in visiting order (pre-order), as
  // NFKC names; both passes visit the nodes in the same order.
  std::span<const std::string> introduced_keys(std::size_t node_index) const {
    const std::uint32_t from = introduced_from_[node_index];
    const std::uint32_t to = introduced_from_[node_index + 1];
    return {introduced_keys_.data() + from, to - from};
  }

  std::uint32_t add_used(const Token& token) {
    used_.push_back({&token, text::nfkc(token.content)});
    return static_cast<std::uint32_t>(used_.size() - 1);
  }

  void note_introduced(const Node& node) {
    for (const Token& token : node.introduced_variables()) introduced_keys_.push_back(text::nfkc(token.content));
    introduced_from_.push_back(static_cast<std::uint32_t>(introduced_keys_.size()));
  }

  void materialize(const std::vector<std::uint32_t>& list, std::vector<Token>& out) const {
    if (list.empty() && out.empty()) return;
    out.clear();
    out.reserve(list.size());
    for (const std::uint32_t i : list) out.push_back(*used_[i].token);
  }

  // The attributes' variables of a node, without the excluded names where
  // the node loops on its element.
  void attribute_variables(const Node& node, const NameSet& excluded, std::vector<std::uint32_t>& out) {
    const bool loop_on_element = !excluded.empty() && loops_on_element(node);
    for (const HtmlAttr& attr : node.start_tag().attrs) {
      const bool exclude = reads_loop_variables(loop_on_element, attr);
      for (const Token& token : attr.used_variables) {
        const std::uint32_t i = add_used(token);
        if (!exclude || !excluded.contains(used_[i].key)) out.push_back(i);
      }
    }
  }

  // Most nodes introduce nothing: their set stays empty and unallocated.
  static NameSet name_set(std::span<const std::string> keys) {
    NameSet set;
    if (!keys.empty()) set.insert(keys.begin(), keys.end());
    return set;
  }

  // Post-order over the tree: each body's list is its elements' lists in
  // order; a node's list is its body's without what it introduces, then its
  // attributes'. Lists are indices into `used_` until they are stored.
  std::vector<std::uint32_t> recompute(Template& top) {
    struct Frame {
      Template* body;
      std::size_t next;
      Node* owner;
      std::size_t owner_index;
      std::vector<std::uint32_t> list;
    };
    introduced_from_.assign(1, 0);
    std::vector<Frame> frames;
    frames.push_back({&top, 0, nullptr, 0, {}});
    for (;;) {
      Frame& frame = frames.back();
      if (frame.next < frame.body->elements.size()) {
        template_ast::TemplateElement& element = frame.body->elements[frame.next++];
        if (const auto* expr = element.expr()) {
          for (const Token& token : expr->used_variables) frame.list.push_back(add_used(token));
        } else if (Node* node = element.node()) {
          const std::size_t index = introduced_from_.size() - 1;
          note_introduced(*node);
          if (auto* with_body = node->with_body()) {
            frames.push_back({&with_body->body.mut(), 0, node, index, {}});
            continue;
          }
          own_.clear();
          attribute_variables(*node, name_set(introduced_keys(index)), own_);
          materialize(own_, node->used_variables());
          frame.list.insert(frame.list.end(), own_.begin(), own_.end());
        }
        continue;
      }
      materialize(frame.list, frame.body->used_variables);
      if (frame.owner == nullptr) return std::move(frame.list);
      Node& node = *frame.owner;
      const NameSet excluded = name_set(introduced_keys(frame.owner_index));
      own_.clear();
      if (excluded.empty()) {
        own_.swap(frame.list);
      } else {
        for (const std::uint32_t i : frame.list) {
          if (!excluded.contains(used_[i].key)) own_.push_back(i);
        }
      }
      attribute_variables(node, excluded, own_);
      materialize(own_, node.used_variables());
      frames.pop_back();
      std::vector<std::uint32_t>& parent = frames.back().list;
      parent.insert(parent.end(), own_.begin(), own_.end());
    }
  }

  TemplateParseError error_at(const Token& token, std::string message) const {
    return error_at_span(*context_.source, token.start_index, token.end_index, std::move(message));
  }

  bool is_bound(std::string_view key) const { return bound_.contains(key); }

  // The variables a node introduces: none twice, none in use already.
  Status check_definitions(const Node& node, std::span<const std::string> keys, const NameSet& taken) const {
    const auto& names = node.introduced_variables();
    const auto binding = [&] { return fmt::format(fmt::runtime(msg::kTagBinding), node.start_tag().name.content); };
    NameSet defined;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string_view key = keys[i];
      if (!defined.insert(key).second) {
        return error_at(names[i], fmt::format(fmt::runtime(msg::kDefinedMoreThanOnce), names[i].content, binding()));
      }
      if (taken.contains(key) || is_bound(key)) {
        return error_at(names[i], fmt::format(fmt::runtime(msg::kVariableTaken), names[i].content, binding()));
      }
    }
    return std::nullopt;
  }

  // The variables that templates nested in the node's attribute values
  // introduce: none in use already. Where the node loops on its element, its
  // other attributes also see the loop variables as in use.
  Status check_nested_definitions(const Node& node, std::span<const std::string> keys, const NameSet& taken) const {
    const AttributeVariables& registry = *context_.attribute_variables;
    if (registry.empty()) return std::nullopt;
    const bool loop_on_element = loops_on_element(node);
    for (const HtmlAttr& attr : node.start_tag().attrs) {
      const auto found = registry.find({attr.token.start_index, attr.token.end_index});
      if (found == registry.end()) continue;
      const bool with_loop_variables = reads_loop_variables(loop_on_element, attr);
      for (const Token& token : found->second) {
        const std::string key = text::nfkc(token.content);
        bool clash = taken.contains(key) || is_bound(key);
        for (std::size_t i = 0; !clash && with_loop_variables && i < keys.size(); ++i) clash = keys[i] == key;
        if (clash) {
          return error_at(token, fmt::format(fmt::runtime(msg::kVariableTaken), token.content,
                                             msg::kNestedTemplateBinding));
        }
      }
    }
    return std::nullopt;
  }

  // Pre-order over the tree with the names bound by the enclosing bindings:
  // pushed when a body is entered, popped when it is left.
  Status check_bindings(const Template& top, const NameSet& taken) {
    struct Frame {
      const Template* body;
      std::size_t next;
      std::size_t pushed;
    };
    std::vector<Frame> frames;
    frames.push_back({&top, 0, 0});
    std::vector<std::string_view> pushed;
    std::size_t node_index = 0;
    while (!frames.empty()) {
      Frame& frame = frames.back();
      if (frame.next == frame.body->elements.size()) {
        for (std::size_t i = 0; i < frame.pushed; ++i) {
          const auto it = bound_.find(pushed.back());
          if (--it->second == 0) bound_.erase(it);
          pushed.pop_back();
        }
        frames.pop_back();
        continue;
      }
      const Node* node = frame.body->elements[frame.next++].node();
      if (node == nullptr) continue;
      const std::span<const std::string> keys = introduced_keys(node_index++);
      if (Status error = check_definitions(*node, keys, taken)) return error;
      if (Status error = check_nested_definitions(*node, keys, taken)) return error;
      if (const auto* with_body = node->with_body()) {
        for (const std::string& key : keys) {
          ++bound_[key];
          pushed.push_back(key);
        }
        frames.push_back({&*with_body->body, 0, keys.size()});
      }
    }
    return std::nullopt;
  }

  const ParserContext& context_;
  std::vector<UsedVariable> used_;
  std::vector<std::string> introduced_keys_;
  std::vector<std::uint32_t> introduced_from_;
  // Scratch list of the node being finished.
  std::vector<std::uint32_t> own_;
  // Names bound by the enclosing bindings, with how many bind each.
  std::unordered_map<std::string_view, std::uint32_t> bound_;
};

}  // namespace

Status resolve_scopes(Template& tmpl, const ParserContext& context) { return ScopePasses(context).run(tmpl); }

}  // namespace lumra::template_parser
