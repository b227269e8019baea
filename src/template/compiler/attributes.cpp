// Attributes as data for the runtime: StaticHtmlAttr, ExprHtmlAttr and
// TemplateHtmlAttr calls, the FillDataBinding of a <c-fill> `data` value, and
// the variable-name tuples that every runtime node receives.
#include <fmt/format.h>

#include <algorithm>

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
  // ASCII names are their own NFKC forms, so distinct already.
  if (std::all_of(names.begin(), names.end(), [](std::string_view name) { return text::is_ascii(name); })) {
    return IrNode::tuple_of(names.size(), [&](std::size_t i) { return IrNode::quoted(names[i]); });
  }
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
  void reset() {
    names_.clear();
    seen_.clear();
  }
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
  hashing::TextSet<std::string_view> seen_;
};

}  // namespace

// The removed tokens: scanned while few (an attribute's names), else sorted
// by start_index for lookups in logarithmic time.
class UsedNames::Removed {
 public:
  explicit Removed(const UsedEdit* edit) {
    if (edit == nullptr) return;
    few_ = edit->removed;
    if (few_.size() <= kScanLimit) return;
    tokens_.reserve(few_.size());
    for (const tast::Token& t : few_) tokens_.push_back(&t);
    few_ = {};
    std::sort(tokens_.begin(), tokens_.end(),
              [](const tast::Token* a, const tast::Token* b) { return a->start_index < b->start_index; });
  }
  bool empty() const noexcept { return few_.empty() && tokens_.empty(); }
  bool holds(const tast::Token& token) const {
    if (!few_.empty()) return std::find(few_.begin(), few_.end(), token) != few_.end();
    for (auto it = first_from(token.start_index); it != tokens_.end() && (*it)->start_index == token.start_index;
         ++it) {
      if (**it == token) return true;
    }
    return false;
  }
  // Whether a removed token may lie in a run whose tokens start within [lowest, highest].
  bool may_lie_in(const Run& run) const {
    if (!few_.empty()) {
      return std::any_of(few_.begin(), few_.end(),
                         [&](const tast::Token& t) { return t.start_index >= run.lowest && t.start_index <= run.highest; });
    }
    const auto it = first_from(run.lowest);
    return it != tokens_.end() && (*it)->start_index <= run.highest;
  }

 private:
  static constexpr std::size_t kScanLimit = 8;

  std::vector<const tast::Token*>::const_iterator first_from(std::uint64_t start) const {
    return std::lower_bound(tokens_.begin(), tokens_.end(), start,
                            [](const tast::Token* t, std::uint64_t s) { return t->start_index < s; });
  }

  std::span<const tast::Token> few_;
  std::vector<const tast::Token*> tokens_;
};

template <class Take, class TakeName, class TakeRun>
bool UsedNames::sweep(const tast::SharedTokens::Layout& layout, Take&& take, TakeName&& take_name,
                      TakeRun&& take_run) {
  const tast::ListStore<tast::Token>& store = *layout.store;
  const tast::Token* const data = store.items.data();
  const tast::Token* const last = data + layout.end;
  // The runs already read that lie directly inside, in order; a run whose
  // records are not inside this one's, or that an edit may touch, is entered.
  met_.clear();
  for (const tast::Token* at = data + layout.begin; at < last;) {
    const auto inner = runs_.lower_bound(at);
    if (inner == runs_.end() || inner->first >= last) break;
    const Run& known = inner->second;
    at = inner->first;
    const std::uint32_t after = met_.empty() ? layout.left_begin : met_.back().run->left_end;
    if (known.end > last || known.left_begin < after || known.left_end > layout.left_end || !take_run(known)) {
      ++at;
      continue;
    }
    met_.push_back({at, &known});
    at = known.end;
  }
  // The run's own records: its window less the met runs' windows.
  records_.clear();
  std::size_t m = 0;
  for (std::uint32_t i = layout.left_begin; i < layout.left_end;) {
    if (m < met_.size() && i >= met_[m].run->left_begin) {
      i = std::max(i, met_[m++].run->left_end);
      continue;
    }
    const tast::LeftOut& record = store.left_out[i++];
    if (record.from >= record.to) continue;
    if (record.from < layout.begin || record.to > layout.end) return false;
    records_.push_back(&record);
  }
  // In nesting order, so that open records form a stack.
  std::sort(records_.begin(), records_.end(), tast::opens_before);
  open_.clear();
  open_names_.clear();
  const auto left_out = [&](std::string_view name) { return open_names_.leaves_out(name); };
  std::size_t next = 0;
  m = 0;
  for (const tast::Token* at = data + layout.begin; at < last;) {
    const auto i = static_cast<std::size_t>(at - data);
    while (!open_.empty() && open_.back()->to <= i) {
      open_names_.close();
      open_.pop_back();
    }
    const tast::LeftOut* skip = nullptr;
    for (; next < records_.size() && records_[next]->from <= i; ++next) {
      const tast::LeftOut* record = records_[next];
      if (record->keys_from == record->keys_to) {
        skip = record;
        break;
      }
      open_.push_back(record);
      open_names_.open(store, static_cast<std::uint32_t>(record - store.left_out.data()));
    }
    if (skip != nullptr) {
      // Every name of the range is left out, with the records and runs inside it.
      for (++next; next < records_.size() && records_[next]->from < skip->to; ++next) {
      }
      at = data + skip->to;
      for (; m < met_.size() && met_[m].begin < at; ++m) {
        if (met_[m].run->end > at) return false;
      }
      continue;
    }
    if (m < met_.size() && met_[m].begin == at) {
      const Run& known = *met_[m++].run;
      // The open records must cover the run whole, and no other may start inside it.
      if (!open_.empty() && data + open_.back()->to < known.end) return false;
      if (next < records_.size() && data + records_[next]->from < known.end) return false;
      names_taken_ += known.names.size();
      for (std::string_view name : known.names) {
        if (!left_out(name)) take_name(name);
      }
      take_name.span(known);
      at = known.end;
      continue;
    }
    const tast::Token& token = *at++;
    ++tokens_read_;
    if (!left_out(token.content)) take(token);
  }
  return true;
}

std::span<const std::string_view> UsedNames::of(const tast::SharedTokens& tokens, const UsedEdit* edit) {
  const tast::SharedTokens::Layout layout = tokens.layout();
  if (edit == nullptr && layout.end - layout.begin <= kShortRun && tokens.is_flat()) {
    // The common short list, scanned as it stands (at most kShortRun names).
    result_.clear();
    for (const tast::Token& t : tokens.span()) {
      const std::string_view name = t.content;
      if (std::find(result_.begin(), result_.end(), name) == result_.end()) result_.push_back(name);
    }
    tokens_read_ += layout.end - layout.begin;
    return result_;
  }
  const Removed removed(edit);
  DistinctViews kept(result_);
  if (layout.end - layout.begin <= kShortRun) {
    tokens.for_each([&](const tast::Token& t) {
      ++tokens_read_;
      if (removed.empty() || !removed.holds(t)) kept.add(t.content);
    });
  } else {
    // The run's own names, kept for the runs around it, and those the edit leaves.
    const tast::Token* const data = layout.store->items.data();
    Run whole{data + layout.end, layout.left_begin, layout.left_end, {}, UINT64_MAX, 0, tokens};
    DistinctViews all(whole.names);
    const auto take = [&](const tast::Token& t) {
      all.add(t.content);
      whole.lowest = std::min(whole.lowest, t.start_index);
      whole.highest = std::max(whole.highest, t.start_index);
      if (!removed.empty() && !removed.holds(t)) kept.add(t.content);
    };
    struct TakeName {
      DistinctViews& all;
      DistinctViews& kept;
      Run& whole;
      bool edited;
      void operator()(std::string_view name) const {
        all.add(name);
        if (edited) kept.add(name);
      }
      void span(const Run& known) const {
        whole.lowest = std::min(whole.lowest, known.lowest);
        whole.highest = std::max(whole.highest, known.highest);
      }
    };
    if (!sweep(layout, take, TakeName{all, kept, whole, !removed.empty()},
               [&](const Run& known) { return !removed.may_lie_in(known); })) {
      // Records laid out otherwise than a parse writes them: the list as it reads.
      all.reset();
      kept.reset();
      whole.lowest = UINT64_MAX;
      whole.highest = 0;
      tokens.for_each([&](const tast::Token& t) {
        ++tokens_read_;
        take(t);
      });
    }
    if (removed.empty()) result_ = whole.names;
    const tast::Token* const first = data + layout.begin;
    auto [place, added] = runs_.try_emplace(first, std::move(whole));
    if (!added && std::pair(place->second.end, place->second.left_end) < std::pair(whole.end, whole.left_end)) {
      place->second = std::move(whole);
    }
  }
  if (edit != nullptr) {
    for (const tast::Token& t : edit->appended) kept.add(t.content);
  }
  return result_;
}

}  // namespace lumra::template_compiler
