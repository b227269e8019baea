#include "template/grammar/pairs.h"

#include <algorithm>
#include <cstring>

namespace lumra::grammar {

LineCol line_col_from_starts(std::string_view input, const std::vector<std::uint32_t>& line_starts,
                             std::size_t offset) noexcept {
  offset = std::min(offset, input.size());
  // Number of line starts <= offset; line_starts[0] == 0, so it is at least 1.
  const auto after = std::upper_bound(line_starts.begin(), line_starts.end(), offset);
  const std::size_t line = static_cast<std::size_t>(after - line_starts.begin());
  const std::size_t from = line > 0 ? line_starts[line - 1] : 0;
  std::size_t col = 1;
  for (std::size_t i = from; i < offset; ++i) {
    col += (static_cast<unsigned char>(input[i]) & 0xC0) != 0x80;
  }
  return {line, col};
}

LineCol Pair::line_col() const noexcept {
  return line_col_from_starts(tree_->input, tree_->line_starts, start());
}

std::string Pair::to_string() const {
  std::string out(rule_name(rule()));
  out += '(';
  out += std::to_string(start());
  out += ", ";
  out += std::to_string(end());
  const Pairs children = inner();
  if (!children.empty()) {
    out += ", [";
    bool first = true;
    for (const Pair child : children) {
      if (!first) out += ", ";
      first = false;
      out += child.to_string();
    }
    out += ']';
  }
  out += ')';
  return out;
}

std::size_t Pairs::size() const noexcept {
  std::size_t n = 0;
  for (auto it = begin(); it != end(); ++it) ++n;
  return n;
}

std::optional<Pair> Pairs::find(Rule rule) const noexcept {
  for (const Pair pair : *this) {
    if (pair.rule() == rule) return pair;
  }
  return std::nullopt;
}

ParseTree::ParseTree(std::string_view input, RecordList entries)
    : data_(std::make_unique<TreeData>(TreeData{input, std::move(entries), {}})) {
  auto& starts = data_->line_starts;
  starts.push_back(0);
  const char* const base = input.data();
  const char* at = base;
  const char* const stop = base + input.size();
  while (at < stop) {
    const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(stop - at));
    if (lf == nullptr) break;
    at = static_cast<const char*>(lf) + 1;
    starts.push_back(static_cast<std::uint32_t>(at - base));
  }
}

LineCol ParseTree::line_col(std::size_t offset) const noexcept {
  return line_col_from_starts(data_->input, data_->line_starts, offset);
}

}  // namespace lumra::grammar
