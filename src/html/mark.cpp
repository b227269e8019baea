// The marking scan. The main loop jumps to the next '<' with memchr and
// dispatches on what follows it, in a fixed order: comment, CDATA section,
// declaration or processing instruction, end tag, start tag, stray '<'.
// Text between tags is never looked at byte by byte.
#include "html/mark.h"

#include <cstdint>
#include <cstring>

#include "html/chars.h"

namespace lumra::html {

namespace {

// memcpy that tolerates the null data pointer of an empty view.
inline char* copy_bytes(char* out, const char* from, std::size_t size) {
  if (size != 0) std::memcpy(out, from, size);
  return out + size;
}

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view kTemplate = "template";

bool is_raw_text_name(std::string_view name) {
  return ascii_iequal(name, "script") || ascii_iequal(name, "style") ||
         ascii_iequal(name, "textarea") || ascii_iequal(name, "title");
}

// What reading one start tag yields.
struct StartTag {
  std::string_view name;
  std::size_t splice_at = 0;  // end of the last attribute, or of the name
  std::size_t end = 0;        // just past '>' or '/>', or the end of the input
  bool self_closing = false;
  bool has_placeholder_attr = false;
  std::string_view placeholder_value;
};

class MarkScanner {
 public:
  MarkScanner(std::string_view in, std::string_view placeholder_attr)
      : in_(in), n_(in.size()), placeholder_attr_(placeholder_attr) {}

  MarkPlan run() {
    while (pos_ < n_) {
      const std::size_t lt = find_byte('<', pos_);
      if (lt == npos) break;
      scan_markup(lt);
    }
    close_segment(n_);
    return std::move(plan_);
  }

 private:
  std::size_t find_byte(char c, std::size_t from) const {
    if (from >= n_) return npos;
    const void* hit = std::memchr(in_.data() + from, c, n_ - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - in_.data()) : npos;
  }
  // Just past `terminator` searched from `from`, or the end of the input.
  std::size_t past(std::string_view terminator, std::size_t from) const {
    if (from > n_) return n_;
    const std::size_t at = in_.find(terminator, from);
    return at == npos ? n_ : at + terminator.size();
  }
  std::size_t skip_space(std::size_t i) const {
    while (i < n_ && is_html_space(in_[i])) ++i;
    return i;
  }
  bool starts_at(std::size_t i, std::string_view s) const { return in_.substr(i, s.size()) == s; }

  void scan_markup(std::size_t lt) {
    const char next = lt + 1 < n_ ? in_[lt + 1] : '\0';
    if (next == '!' && starts_at(lt, "<!--")) {
      pos_ = past("-->", lt + 4);
    } else if (next == '!' && starts_at(lt, "<![CDATA[")) {
      pos_ = past("]]>", lt + 9);
    } else if (next == '!' || next == '?') {
      pos_ = past(">", lt + 1);
    } else if (next == '/') {
      scan_end_tag(lt);
    } else if (lt + 1 < n_ && is_ascii_alpha(next)) {
      scan_start_tag(lt);
    } else {
      pos_ = lt + 1;  // a stray '<' is text
    }
  }

  void scan_end_tag(std::size_t lt) {
    std::size_t i = lt + 2;
    while (i < n_ && !is_html_space(in_[i]) && in_[i] != '>') ++i;
    const std::string_view name = in_.substr(lt + 2, i - lt - 2);
    pos_ = past(">", lt + 1);
    if (!is_void_name(name)) --depth_;
  }

  StartTag read_start_tag(std::size_t lt) const {
    StartTag tag;
    std::size_t i = lt + 1;
    while (i < n_ && !has_class(in_[i], kTagNameEnd)) ++i;
    tag.name = in_.substr(lt + 1, i - lt - 1);
    tag.splice_at = i;
    while (true) {
      i = skip_space(i);
      if (i >= n_) {
        tag.end = n_;
        return tag;
      }
      const char c = in_[i];
      if (c == '/') {
        if (i + 1 < n_ && in_[i + 1] == '>') {
          tag.self_closing = true;
          tag.end = i + 2;
          return tag;
        }
        ++i;
        continue;
      }
      if (c == '>') {
        tag.end = i + 1;
        return tag;
      }
      // An attribute: name, then optionally '=' and a value.
      const std::size_t name_start = i;
      while (i < n_ && !has_class(in_[i], kAttrNameEnd)) ++i;
      const std::string_view attr_name = in_.substr(name_start, i - name_start);
      std::string_view value;
      std::size_t j = skip_space(i);
      if (j < n_ && in_[j] == '=') {
        j = skip_space(j + 1);
        if (j >= n_) {
          i = n_;
        } else if (in_[j] == '"' || in_[j] == '\'') {
          const std::size_t close = find_byte(in_[j], j + 1);
          const std::size_t value_end = close == npos ? n_ : close;
          value = in_.substr(j + 1, value_end - j - 1);
          i = close == npos ? n_ : close + 1;
        } else {
          const std::size_t value_start = j;
          while (j < n_ && !has_class(in_[j], kUnquotedEnd)) ++j;
          value = in_.substr(value_start, j - value_start);
          i = j;
        }
      }
      // A bare attribute ends with its name; the scan resumes there.
      tag.splice_at = i;
      if (ascii_iequal(attr_name, placeholder_attr_)) {
        tag.has_placeholder_attr = true;
        tag.placeholder_value = value;
      }
    }
  }

  // End of a placeholder's "</template>" when only whitespace lies between
  // the start tag and it; npos otherwise.
  std::size_t placeholder_end(const StartTag& tag) const {
    if (tag.self_closing || !tag.has_placeholder_attr || !ascii_iequal(tag.name, kTemplate)) {
      return npos;
    }
    std::size_t i = skip_space(tag.end);
    if (i + 2 + kTemplate.size() > n_ || in_[i] != '<' || in_[i + 1] != '/' ||
        !ascii_iequal(in_.substr(i + 2, kTemplate.size()), kTemplate)) {
      return npos;
    }
    i = skip_space(i + 2 + kTemplate.size());
    return i < n_ && in_[i] == '>' ? i + 1 : npos;
  }

  // Just past the end tag that closes a raw-text element called `name`
  // whose content starts at `from`, or the end of the input.
  std::size_t raw_text_end(std::string_view name, std::size_t from) const {
    for (std::size_t lt = find_byte('<', from); lt != npos; lt = find_byte('<', lt + 1)) {
      const std::size_t after = lt + 2 + name.size();
      if (after > n_ || in_[lt + 1] != '/' || !ascii_iequal(in_.substr(lt + 2, name.size()), name)) {
        continue;
      }
      if (after < n_ && !has_class(in_[after], kTagNameEnd)) continue;
      return past(">", after);
    }
    return n_;
  }

  void scan_start_tag(std::size_t lt) {
    const StartTag tag = read_start_tag(lt);
    const bool root = depth_ == 0;

    if (const std::size_t end = placeholder_end(tag); end != npos) {
      close_segment(lt);
      MarkPiece piece{lt, end, plan_.splices.size(), root ? 1u : 0u};
      if (root) plan_.splices.push_back(tag.splice_at);
      plan_.placeholders.push_back(MarkedPlaceholder{tag.placeholder_value, piece, root});
      segment_begin_ = end;
      segment_first_splice_ = plan_.splices.size();
      pos_ = end;
      return;
    }

    if (root) plan_.splices.push_back(tag.splice_at);
    pos_ = tag.end;
    if (tag.self_closing || is_void_name(tag.name)) return;
    if (is_raw_text_name(tag.name)) {
      pos_ = raw_text_end(tag.name, tag.end);
      return;
    }
    ++depth_;
  }

  void close_segment(std::size_t end) {
    plan_.segments.push_back(MarkPiece{segment_begin_, end, segment_first_splice_,
                                       plan_.splices.size() - segment_first_splice_});
  }

  std::string_view in_;
  std::size_t n_;
  std::string_view placeholder_attr_;
  std::size_t pos_ = 0;
  std::uint32_t depth_ = 0;  // wraps on stray end tags, by design
  std::size_t segment_begin_ = 0;
  std::size_t segment_first_splice_ = 0;
  MarkPlan plan_;
};

}  // namespace

MarkPlan plan_marks(std::string_view html, std::string_view placeholder_attr) {
  return MarkScanner(html, placeholder_attr).run();
}

std::string build_root_splice(std::span<const std::string> names) {
  std::size_t size = 0;
  for (const std::string& name : names) size += name.size() + 4;
  std::string splice;
  splice.reserve(size);
  for (const std::string& name : names) {
    splice.push_back(' ');
    splice.append(name);
    splice.append("=\"\"");
  }
  return splice;
}

char* write_piece(const MarkPlan& plan, const MarkPiece& piece, std::string_view html,
                  std::string_view splice, char* out) {
  std::size_t cur = piece.begin;
  for (std::size_t k = 0; k < piece.splice_count; ++k) {
    const std::size_t at = plan.splices[piece.first_splice + k];
    out = copy_bytes(out, html.data() + cur, at - cur);
    out = copy_bytes(out, splice.data(), splice.size());
    cur = at;
  }
  return copy_bytes(out, html.data() + cur, piece.end - cur);
}

MarkOutput mark_html(std::string_view html, std::span<const std::string> root_attributes,
                     std::string_view placeholder_attr) {
  const MarkPlan plan = plan_marks(html, placeholder_attr);
  const std::string splice = build_root_splice(root_attributes);
  auto materialise = [&](const MarkPiece& piece) {
    std::string text(piece_size(piece, splice), '\0');
    write_piece(plan, piece, html, splice, text.data());
    return text;
  };
  MarkOutput out;
  out.segments.reserve(plan.segments.size());
  for (const MarkPiece& piece : plan.segments) out.segments.push_back(materialise(piece));
  for (const MarkedPlaceholder& ph : plan.placeholders) {
    MarkOutputPlaceholder p{std::string(ph.id), materialise(ph.html), {}};
    if (ph.root) p.added_attributes.assign(root_attributes.begin(), root_attributes.end());
    out.placeholders.push_back(std::move(p));
  }
  return out;
}

}  // namespace lumra::html
