// mark_html over arbitrary bytes (it is a byte scanner and must not fail on
// any input).
//
// Input layout: the first byte picks the root attributes (bits 0-1) and the
// placeholder attribute (bits 2-3); the rest is the HTML. Checked for every
// input:
// - the plan's pieces tile the input in order, its splice points ascend and
//   lie inside their pieces (on character boundaries for UTF-8 input);
// - the marked HTML with the splices taken out is the input, byte for byte;
// - the result equals that of a plain, literal re-reading of the scanning
//   rules written below (differential check against the optimised scanner);
// - the same text as 16- and 32-bit units gives the same plan, with every
//   byte above 127 widened to a unit above 255 whose low bits are markup
//   (such a unit is text, as the byte was).

#include <algorithm>
#include <optional>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"
#include "html/mark.h"

namespace {

using namespace lumra::html;

constexpr std::size_t kMaxInput = 16384;

// ---- the literal reading --------------------------------------------------

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool in_list_ci(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return equal_ci(name, n); });
}

bool is_void(std::string_view name) {
  return in_list_ci(name, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
                           "param", "source", "track", "wbr"});
}

bool is_raw_text(std::string_view name) {
  return in_list_ci(name, {"script", "style", "textarea", "title"});
}

struct RefPlaceholder {
  std::string id;
  std::string html;
  bool root;
};

struct RefResult {
  std::vector<std::string> segments;
  std::vector<RefPlaceholder> placeholders;
};

std::size_t skip_ws(std::string_view s, std::size_t p) {
  while (p < s.size() && is_ws(s[p])) ++p;
  return p;
}

// Through the end of `close` searched from `from`, or to the end of the text.
std::size_t through(std::string_view s, std::string_view close, std::size_t from) {
  const std::size_t at = s.find(close, std::min(from, s.size()));
  return at == std::string_view::npos ? s.size() : at + close.size();
}

RefResult reference_mark(std::string_view s, std::string_view splice, std::string_view attr) {
  RefResult out;
  std::string cur;
  std::uint32_t depth = 0;
  const std::size_t n = s.size();
  std::size_t pos = 0;
  auto starts = [&](std::size_t at, std::string_view lit) { return s.substr(at).starts_with(lit); };

  while (pos < n) {
    const std::size_t lt = s.find('<', pos);
    if (lt == std::string_view::npos) {
      cur.append(s.substr(pos));
      break;
    }
    cur.append(s.substr(pos, lt - pos));
    std::size_t end;
    if (starts(lt, "<!--")) {
      end = through(s, "-->", lt + 4);
    } else if (starts(lt, "<![CDATA[")) {
      end = through(s, "]]>", lt + 9);
    } else if (starts(lt, "<!") || starts(lt, "<?")) {
      end = through(s, ">", lt + 1);
    } else if (starts(lt, "</")) {
      std::size_t p = lt + 2;
      while (p < n && !is_ws(s[p]) && s[p] != '>') ++p;
      end = through(s, ">", lt + 1);
      if (!is_void(s.substr(lt + 2, p - lt - 2))) --depth;
    } else if (lt + 1 < n && is_letter(s[lt + 1])) {
      std::size_t p = lt + 1;
      while (p < n && !is_ws(s[p]) && s[p] != '/' && s[p] != '>') ++p;
      const std::string_view name = s.substr(lt + 1, p - lt - 1);
      std::size_t splice_at = p;
      bool has_attr = false;
      bool self_closing = false;
      std::string_view id;
      std::size_t tag_end;
      while (true) {
        p = skip_ws(s, p);
        if (p >= n) {
          tag_end = n;
          break;
        }
        if (s[p] == '/') {
          if (p + 1 < n && s[p + 1] == '>') {
            tag_end = p + 2;
            self_closing = true;
            break;
          }
          ++p;
          continue;
        }
        if (s[p] == '>') {
          tag_end = p + 1;
          break;
        }
        const std::size_t name_start = p;
        while (p < n && !is_ws(s[p]) && s[p] != '/' && s[p] != '=' && s[p] != '>') ++p;
        const std::string_view attr_name = s.substr(name_start, p - name_start);
        std::string_view value;
        std::size_t q = skip_ws(s, p);
        if (q < n && s[q] == '=') {
          q = skip_ws(s, q + 1);
          if (q >= n) {
            p = n;
          } else if (s[q] == '"' || s[q] == '\'') {
            const std::size_t close = s.find(s[q], q + 1);
            if (close == std::string_view::npos) {
              value = s.substr(q + 1);
              p = n;
            } else {
              value = s.substr(q + 1, close - q - 1);
              p = close + 1;
            }
          } else {
            std::size_t r = q;
            while (r < n && !is_ws(s[r]) && s[r] != '>') ++r;
            value = s.substr(q, r - q);
            p = r;
          }
        }
        splice_at = p;
        if (equal_ci(attr_name, attr)) {
          has_attr = true;
          id = value;
        }
      }
      const std::string_view tag_splice = depth == 0 ? splice : std::string_view();

      std::size_t ph_end = 0;
      if (equal_ci(name, "template") && !self_closing && has_attr && tag_end <= n &&
          s[tag_end - 1] == '>') {
        std::size_t q = skip_ws(s, tag_end);
        if (starts(q, "</") && q + 10 <= n && equal_ci(s.substr(q + 2, 8), "template")) {
          q = skip_ws(s, q + 10);
          if (q < n && s[q] == '>') ph_end = q + 1;
        }
      }
      if (ph_end != 0) {
        std::string html(s.substr(lt, splice_at - lt));
        html.append(tag_splice);
        html.append(s.substr(splice_at, ph_end - splice_at));
        out.placeholders.push_back({std::string(id), std::move(html), depth == 0});
        out.segments.push_back(std::move(cur));
        cur.clear();
        pos = ph_end;
        continue;
      }
      cur.append(s.substr(lt, splice_at - lt));
      cur.append(tag_splice);
      cur.append(s.substr(splice_at, tag_end - splice_at));
      end = tag_end;
      if (!self_closing && !is_void(name)) {
        if (is_raw_text(name)) {
          std::size_t from = tag_end;
          std::size_t raw_end = n;
          while (true) {
            const std::size_t k = s.find("</", from);
            if (k == std::string_view::npos) break;
            const std::size_t after = k + 2 + name.size();
            if (after <= n && equal_ci(s.substr(k + 2, name.size()), name) &&
                (after == n || is_ws(s[after]) || s[after] == '/' || s[after] == '>')) {
              raw_end = through(s, ">", after);
              break;
            }
            from = k + 1;
          }
          cur.append(s.substr(tag_end, raw_end - tag_end));
          end = raw_end;
        } else {
          ++depth;
        }
      }
      pos = end;
      continue;
    } else {
      cur.push_back('<');
      pos = lt + 1;
      continue;
    }
    cur.append(s.substr(lt, end - lt));
    pos = end;
  }
  out.segments.push_back(std::move(cur));
  return out;
}

// ---- checks of the scanner's own output -----------------------------------

void check_plan(const MarkPlan& plan, std::string_view html, bool utf8) {
  FUZZ_CHECK(plan.segments.size() == plan.placeholders.size() + 1);
  FUZZ_CHECK(std::is_sorted(plan.splices.begin(), plan.splices.end()));
  std::size_t at = 0;
  std::size_t next_splice = 0;
  auto piece = [&](const MarkPiece& p) {
    FUZZ_CHECK(p.begin == at && p.begin <= p.end && p.end <= html.size());
    FUZZ_CHECK(p.first_splice == next_splice || p.splice_count == 0);
    if (p.splice_count > 0) next_splice = p.first_splice;
    FUZZ_CHECK(next_splice + p.splice_count <= plan.splices.size());
    for (std::size_t k = 0; k < p.splice_count; ++k) {
      const std::size_t s = plan.splices[next_splice + k];
      FUZZ_CHECK(s >= p.begin && s <= p.end);
      if (utf8) FUZZ_CHECK(lumra::fuzz::is_char_boundary(html, s));
    }
    if (utf8) {
      FUZZ_CHECK(lumra::fuzz::is_char_boundary(html, p.begin));
      FUZZ_CHECK(lumra::fuzz::is_char_boundary(html, p.end));
    }
    next_splice += p.splice_count;
    at = p.end;
  };
  for (std::size_t i = 0; i < plan.placeholders.size(); ++i) {
    piece(plan.segments[i]);
    const MarkedPlaceholder& ph = plan.placeholders[i];
    piece(ph.html);
    const std::string_view text = html.substr(ph.html.begin, ph.html.end - ph.html.begin);
    FUZZ_CHECK(text.size() >= 2 && text.front() == '<' && text.back() == '>');
    FUZZ_CHECK(ph.id.empty() || (ph.id.data() >= html.data() &&
                                 ph.id.data() + ph.id.size() <= html.data() + html.size()));
  }
  piece(plan.segments.back());
  FUZZ_CHECK(at == html.size());
  FUZZ_CHECK(next_splice == plan.splices.size());
}

// The marked HTML minus the splices (at the offsets the plan reports) is the input.
void check_splices_removed(const MarkOutput& out, const MarkPlan& plan, std::string_view html,
                           std::string_view splice) {
  std::string joined = out.segments[0];
  for (std::size_t i = 0; i < out.placeholders.size(); ++i) {
    joined += out.placeholders[i].html;
    joined += out.segments[i + 1];
  }
  FUZZ_CHECK(joined.size() == html.size() + plan.splices.size() * splice.size());
  std::string stripped;
  std::size_t from = 0;
  for (std::size_t k = 0; k < plan.splices.size(); ++k) {
    const std::size_t in_joined = plan.splices[k] + k * splice.size();
    FUZZ_CHECK(std::string_view(joined).substr(in_joined, splice.size()) == splice);
    stripped.append(joined, from, in_joined - from);
    from = in_joined + splice.size();
  }
  stripped.append(joined, from);
  FUZZ_CHECK(stripped == html);
}

template <class Unit>
std::basic_string<Unit> widen(std::string_view html, std::uint32_t high) {
  std::basic_string<Unit> out(html.size(), Unit{});
  for (std::size_t i = 0; i < html.size(); ++i) {
    const auto b = static_cast<unsigned char>(html[i]);
    out[i] = static_cast<Unit>(b < 0x80 ? b : high + (b & 0x7F));
  }
  return out;
}

bool same_piece(const MarkPiece& a, const MarkPiece& b) {
  return a.begin == b.begin && a.end == b.end && a.first_splice == b.first_splice &&
         a.splice_count == b.splice_count;
}

template <class Unit>
void check_same_plan(const MarkPlan& bytes, std::string_view html, std::string_view attr, std::uint32_t high) {
  const std::basic_string<Unit> units = widen<Unit>(html, high);
  const std::basic_string<Unit> attr_units = widen<Unit>(attr, high);
  const BasicMarkPlan<Unit> wide =
      plan_unit_marks<Unit>(units, std::optional<std::basic_string_view<Unit>>(attr_units));
  FUZZ_CHECK(wide.splices == bytes.splices);
  FUZZ_CHECK(wide.segments.size() == bytes.segments.size());
  for (std::size_t i = 0; i < bytes.segments.size(); ++i) FUZZ_CHECK(same_piece(wide.segments[i], bytes.segments[i]));
  FUZZ_CHECK(wide.placeholders.size() == bytes.placeholders.size());
  for (std::size_t i = 0; i < bytes.placeholders.size(); ++i) {
    const auto& w = wide.placeholders[i];
    const auto& b = bytes.placeholders[i];
    FUZZ_CHECK(same_piece(w.html, b.html) && w.root == b.root && w.id.size() == b.id.size());
    FUZZ_CHECK(w.id.empty() || w.id.data() - units.data() == b.id.data() - html.data());
  }
  FUZZ_CHECK(!wide.has_surrogates);
}

const std::array<std::vector<std::string>, 4> kRootAttributes = {
    std::vector<std::string>{},
    std::vector<std::string>{"a"},
    std::vector<std::string>{"data-cid-c1", "data-x"},
    std::vector<std::string>{"x", "x", "\xc3\xa9"},
};
const std::array<std::string_view, 4> kPlaceholderAttr = {"c-render-id", "C-RENDER-ID", "id", ""};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const std::string_view html(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<std::string>& roots = kRootAttributes[data[0] & 3];
  const std::string_view attr = kPlaceholderAttr[(data[0] >> 2) & 3];
  const bool utf8 = lumra::fuzz::is_valid_utf8(html);

  const MarkPlan plan = plan_marks(html, attr);
  check_plan(plan, html, utf8);
  const std::string splice = build_root_splice(roots);
  const MarkOutput out = mark_html(html, roots, attr);
  FUZZ_CHECK(out.segments.size() == plan.segments.size());
  FUZZ_CHECK(out.placeholders.size() == plan.placeholders.size());
  check_splices_removed(out, plan, html, splice);
  if (utf8) {
    for (const std::string& s : out.segments) FUZZ_CHECK(lumra::fuzz::is_valid_utf8(s));
    for (const auto& p : out.placeholders) FUZZ_CHECK(lumra::fuzz::is_valid_utf8(p.html));
  }

  check_same_plan<char16_t>(plan, html, attr, 0x100);
  check_same_plan<char16_t>(plan, html, attr, 0xFF00);
  check_same_plan<char32_t>(plan, html, attr, 0x10000);

  const RefResult ref = reference_mark(html, splice, attr);
  FUZZ_CHECK(out.segments == ref.segments);
  FUZZ_CHECK(out.placeholders.size() == ref.placeholders.size());
  for (std::size_t i = 0; i < ref.placeholders.size(); ++i) {
    const MarkOutputPlaceholder& got = out.placeholders[i];
    const RefPlaceholder& want = ref.placeholders[i];
    FUZZ_CHECK(got.id == want.id);
    FUZZ_CHECK(got.html == want.html);
    FUZZ_CHECK(got.added_attributes == (want.root ? roots : std::vector<std::string>{}));
  }
  return 0;
}
