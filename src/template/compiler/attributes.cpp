// Attributes as data for the runtime: StaticHtmlAttr, ExprHtmlAttr and
// TemplateHtmlAttr calls, the FillDataBinding of a <c-fill> `data` value, and
// the variable-name tuples that every runtime node receives.
#include <fmt/format.h>

#include <algorithm>
#include <unordered_set>

#include "template/ast/names.h"
#include "template/compiler/lowering.h"
#include "template/compiler/messages.h"
#include "text/unicode.h"

namespace lumra::template_compiler {

IrNode span_tuple(std::uint64_t start, std::uint64_t end) { return IrNode::span(start, end); }

namespace {

// The token contents as written (not normalised, duplicates kept).
IrNode names_as_written(std::span<const tast::Token> tokens) {
  return IrNode::tuple_of(tokens.size(), [&](std::size_t i) { return IrNode::quoted(tokens[i].content); });
}

IrNode fill_data_binding(const tast::FillDataPattern& pattern) {
  std::vector<IrNode> fields;
  fields.reserve(pattern.fields.size());
  for (const tast::FillDataField& f : pattern.fields) {
    fields.push_back(IrNode::tuple({IrNode::quoted(f.source.content), IrNode::quoted(text::nfkc(f.target.content))}));
  }
  return IrNode::call(rt::kFillDataBinding,
                      {IrNode::tuple(fields),
                       IrNode::quoted(pattern.rest ? text::nfkc(pattern.rest->content) : std::string())});
}

IrNode attribute_value(const tast::HtmlAttr& attr) {
  if (attr.fill_data_pattern) {
    const tast::FillDataPattern& pattern = *attr.fill_data_pattern;
    if (pattern.whole) return IrNode::str(text::nfkc(pattern.whole->content));
    return fill_data_binding(pattern);
  }
  if (attr.kind == tast::HtmlAttrKind::Template) {
    if (!attr.inner_value) return IrNode::str({});
    const std::string_view value = attr.inner_value->content;
    if (auto fragment = tast::strip_fragment_delimiters(value)) return IrNode::str(fragment->inner);
    return IrNode::str(value);
  }
  if (!attr.inner_value || attr.inner_value->content.empty()) return IrNode::boolean(true);
  return IrNode::str(attr.inner_value->content);
}

}  // namespace

IrNode make_expr_node(std::uint64_t start, std::uint64_t end, std::string_view value,
                      std::span<const tast::Token> used_variables) {
  return IrNode::call(rt::kExprNode, {IrNode::raw(rt::kSource), span_tuple(start, end), IrNode::str(value),
                                      names_as_written(used_variables)});
}

std::optional<std::string_view> attribute_class(tast::HtmlAttrKind kind) {
  switch (kind) {
    case tast::HtmlAttrKind::Static:
      return rt::kStaticHtmlAttr;
    case tast::HtmlAttrKind::Expression:
      return rt::kExprHtmlAttr;
    case tast::HtmlAttrKind::Template:
      return rt::kTemplateHtmlAttr;
    case tast::HtmlAttrKind::Meta:
      break;
  }
  return std::nullopt;
}

IrNode compile_attribute(std::string_view class_name, const tast::HtmlAttr& attr) {
  return IrNode::call(class_name, {IrNode::raw(rt::kSource), span_tuple(attr.token.start_index, attr.token.end_index),
                                   IrNode::str(attr.key.content), attribute_value(attr),
                                   names_as_written(attr.used_variables)});
}

Lowered<IrNode> compile_ordinary_attributes(std::span<const tast::HtmlAttr> attrs) {
  for (const tast::HtmlAttr& attr : attrs) {
    if (!attribute_class(attr.kind)) return value_error(fmt::format(msg::kMetaAttributeAsOrdinary, attr.key.content));
  }
  return IrNode::tuple_of(attrs.size(),
                          [&](std::size_t i) { return compile_attribute(*attribute_class(attrs[i].kind), attrs[i]); });
}

void NameList::add(std::string name) {
  // Lists are short: a scan beats hashing until they are not.
  constexpr std::size_t kScanLimit = 16;
  if (names_.size() < kScanLimit) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(std::move(name));
    return;
  }
  if (seen_.empty()) seen_.insert(names_.begin(), names_.end());
  if (seen_.insert(name).second) names_.push_back(std::move(name));
}

IrNode NameList::take_tuple() {
  IrNode tuple = IrNode::tuple_of(names_.size(), [&](std::size_t i) { return IrNode::quoted(names_[i]); });
  names_.clear();
  seen_.clear();
  return tuple;
}

IrNode unique_variable_names(std::span<const tast::Token> tokens) {
  NameList names;
  for (const tast::Token& t : tokens) names.add(text::nfkc(t.content));
  return names.take_tuple();
}

IrNode unique_normalised_names(std::span<const std::string_view> names) {
  NameList normalised;
  // Distinct as written, so the first of each NFKC form comes first.
  for (std::string_view name : names) normalised.add(text::nfkc(name));
  return normalised.take_tuple();
}

namespace {

// Names each once, in order of first occurrence, as views.
class DistinctViews {
 public:
  explicit DistinctViews(std::vector<std::string_view>& out) : names_(out) { names_.clear(); }
  void add(std::string_view name) {
    constexpr std::size_t kScanLimit = 16;
    if (names_.size() < kScanLimit) {
      if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(name);
      return;
    }
    if (seen_.empty()) seen_.insert(names_.begin(), names_.end());
    if (seen_.insert(name).second) names_.push_back(name);
  }

 private:
  std::vector<std::string_view>& names_;
  std::unordered_set<std::string_view> seen_;
};

}  // namespace

// The removed tokens by start_index, for lookups in logarithmic time.
class UsedNames::Removed {
 public:
  explicit Removed(const UsedEdit* edit) {
    if (edit == nullptr) return;
    tokens_.reserve(edit->removed.size());
    for (const tast::Token& t : edit->removed) tokens_.push_back(&t);
    std::sort(tokens_.begin(), tokens_.end(),
              [](const tast::Token* a, const tast::Token* b) { return a->start_index < b->start_index; });
  }
  bool empty() const noexcept { return tokens_.empty(); }
  bool holds(const tast::Token& token) const {
    for (auto it = first_from(token.start_index); it != tokens_.end() && (*it)->start_index == token.start_index;
         ++it) {
      if (**it == token) return true;
    }
    return false;
  }
  // Whether a removed token may lie in a run whose tokens start within [lowest, highest].
  bool may_lie_in(const Run& run) const {
    const auto it = first_from(run.lowest);
    return it != tokens_.end() && (*it)->start_index <= run.highest;
  }

 private:
  std::vector<const tast::Token*>::const_iterator first_from(std::uint64_t start) const {
    return std::lower_bound(tokens_.begin(), tokens_.end(), start,
                            [](const tast::Token* t, std::uint64_t s) { return t->start_index < s; });
  }

  std::vector<const tast::Token*> tokens_;
};

std::span<const std::string_view> UsedNames::of(const tast::SharedTokens& tokens, const UsedEdit* edit) {
  const Removed removed(edit);
  DistinctViews kept(result_);
  // Short runs cost less to read than to look up: they are read whole and
  // not kept, which costs at most kShortRun reads per node.
  constexpr std::size_t kShortRun = 16;
  if (!tokens.is_flat() || tokens.size() <= kShortRun) {
    tokens.for_each([&](const tast::Token& t) {
      ++tokens_read_;
      if (removed.empty() || !removed.holds(t)) kept.add(t.content);
    });
  } else {
    const std::span<const tast::Token> run = tokens.span();
    // The run's own names, kept for the runs around it, and those the edit leaves.
    Run whole{run.data() + run.size(), {}, UINT64_MAX, 0, tokens};
    DistinctViews all(whole.names);
    const auto take = [&](const tast::Token& t) {
      ++tokens_read_;
      all.add(t.content);
      whole.lowest = std::min(whole.lowest, t.start_index);
      whole.highest = std::max(whole.highest, t.start_index);
      if (!removed.empty() && !removed.holds(t)) kept.add(t.content);
    };
    const tast::Token* at = run.data();
    while (at < whole.end) {
      auto inner = runs_.lower_bound(at);
      const tast::Token* stop = inner != runs_.end() && inner->first < whole.end ? inner->first : whole.end;
      for (; at < stop; ++at) take(*at);
      if (at == whole.end) break;
      const Run& known = inner->second;
      // Runs nest or lie apart; one that does not is read token by token.
      if (known.end > whole.end || removed.may_lie_in(known)) {
        take(*at++);
        continue;
      }
      names_taken_ += known.names.size();
      for (std::string_view name : known.names) {
        all.add(name);
        if (!removed.empty()) kept.add(name);
      }
      whole.lowest = std::min(whole.lowest, known.lowest);
      whole.highest = std::max(whole.highest, known.highest);
      at = known.end;
    }
    if (removed.empty()) result_ = whole.names;
    auto [place, added] = runs_.try_emplace(run.data(), std::move(whole));
    if (!added && place->second.end < whole.end) place->second = std::move(whole);
  }
  if (edit != nullptr) {
    for (const tast::Token& t : edit->appended) kept.add(t.content);
  }
  return result_;
}

}  // namespace lumra::template_compiler
