// The marking scan. The main loop jumps to the next '<' and dispatches on
// what follows it, in a fixed order: comment, CDATA section, declaration or
// processing instruction, end tag, start tag, stray '<'.
//
// Every search (the next '<', the end of a name or value, the closing
// quote) reads bit masks of the units that matter to markup, computed 64
// units at a time: a search is a mask lookup and a count of trailing zeros,
// and consecutive tags mostly share one block. Text is never looked at unit
// by unit.
//
// Wide units are narrowed for the vector tests with saturation: 0-255 stay,
// larger units become 0 or 255, which are never markup. So U+013C or
// U+FF1C, whose low byte is '<', cannot be taken for one.
#include "html/mark.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "html/chars.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumra::html {

namespace {

// memcpy that tolerates the null data pointer of an empty view.
inline char* copy_bytes(char* out, const char* from, std::size_t size) {
  if (size != 0) std::memcpy(out, from, size);
  return out + size;
}

// ---- code units ---------------------------------------------------------------

// A unit as a number (bytes read unsigned).
template <class Unit>
constexpr std::uint32_t value_of(Unit c) {
  if constexpr (std::is_same_v<Unit, char>) {
    return static_cast<unsigned char>(c);
  } else {
    return static_cast<std::uint32_t>(c);
  }
}

template <class Unit>
constexpr bool is(Unit c, char ascii) {
  return value_of(c) == static_cast<unsigned char>(ascii);
}

template <class Unit>
constexpr bool is_space(Unit c) {
  const std::uint32_t v = value_of(c);
  return v < 128 && is_html_space(static_cast<char>(v));
}

template <class Unit>
constexpr bool is_alpha(Unit c) {
  const std::uint32_t v = value_of(c);
  return v < 128 && is_ascii_alpha(static_cast<char>(v));
}

constexpr std::uint32_t fold(std::uint32_t v) { return v - 'A' < 26 ? v + ('a' - 'A') : v; }

// Equal under ASCII case folding; `b` may be ASCII text or units like `a`.
template <class Unit, class Other>
constexpr bool iequal(std::basic_string_view<Unit> a, std::basic_string_view<Other> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(value_of(a[i])) != fold(value_of(b[i]))) return false;
  }
  return true;
}

// ---- tag names --------------------------------------------------------------------
//
// The names the scan must know are all ASCII letters, two to eight of them.
// A name is packed into a 64-bit word, one byte per unit with 0x20 OR-ed in:
// that maps exactly 'X' and 'x' to 'x' for a letter x, and a unit above 127
// becomes a byte that is no letter (wide units are narrowed to 0 or 255,
// bytes keep their top bit), so comparing packed words is comparing names
// under ASCII case folding. A perfect hash finds the one candidate.

enum class NameKind : std::uint8_t { kOther, kVoid, kRawText, kTemplate };

struct KnownName {
  std::uint64_t key = 0;
  std::uint8_t size = 0;  // 0: an empty slot
  NameKind kind = NameKind::kOther;
};

constexpr std::uint64_t pack(std::string_view lower) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < lower.size(); ++i) key |= std::uint64_t{static_cast<unsigned char>(lower[i])} << (8 * i);
  return key;
}

constexpr std::uint64_t kNameHashFactor = 0x07cc0424e9e6ed7dull;
constexpr std::size_t name_slot(std::uint64_t key) { return static_cast<std::size_t>((key * kNameHashFactor) >> 59); }

struct KnownNames {
  std::array<KnownName, 32> slots{};
  bool perfect = true;  // no two names share a slot
};

constexpr KnownNames make_known_names() {
  KnownNames names;
  auto add = [&](std::string_view name, NameKind kind) {
    KnownName& slot = names.slots[name_slot(pack(name))];
    if (slot.size != 0) names.perfect = false;
    slot = KnownName{pack(name), static_cast<std::uint8_t>(name.size()), kind};
  };
  for (std::string_view name : kHtmlVoidElements) add(name, NameKind::kVoid);
  for (std::string_view name : {"script", "style", "textarea", "title"}) add(name, NameKind::kRawText);
  add("template", NameKind::kTemplate);
  return names;
}

inline constexpr KnownNames kKnownNames = make_known_names();
static_assert(kKnownNames.perfect, "pick another kNameHashFactor");

// ---- block masks ------------------------------------------------------------------

// Bit k of a mask is unit `base + k` of the block. Units that the scan
// never needs apart share a mask, which keeps the block cheap to compute:
// '/' with '=', and the two quotes.
struct BlockMasks {
  std::uint64_t lt = 0, gt = 0, space = 0, slash_eq = 0, quote = 0;
};

// Sets of units a search looks for (combined at compile time).
enum : unsigned {
  kLt = 1,
  kGt = 2,
  kSpace = 4,
  kSlashEq = 8,
  kQuote = 16,
};

constexpr std::size_t kBlock = 64;

// Units U+D800-U+DFFF are surrogates, no code points of their own: UCS-2
// or UCS-4 text that holds one has no UTF-8 form. The block computation
// notes them on the way, as it reads every unit anyway.
template <class Unit>
constexpr bool is_surrogate(Unit c) {
  return sizeof(Unit) > 1 && (value_of(c) & 0xFFFFF800u) == 0xD800;
}

#if defined(__SSE2__)
// Sixteen units as bytes; wide units also OR their surrogate test into
// `surrogates`.
template <class Unit>
inline __m128i load16(const Unit* p, __m128i& surrogates) {
  const auto* v = reinterpret_cast<const __m128i*>(p);
  if constexpr (sizeof(Unit) == 1) {
    return _mm_loadu_si128(v);
  } else if constexpr (sizeof(Unit) == 2) {
    const __m128i a = _mm_loadu_si128(v);
    const __m128i b = _mm_loadu_si128(v + 1);
    const __m128i top = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i sur = _mm_set1_epi16(static_cast<short>(0xD800));
    surrogates = _mm_or_si128(surrogates, _mm_or_si128(_mm_cmpeq_epi16(_mm_and_si128(a, top), sur),
                                                       _mm_cmpeq_epi16(_mm_and_si128(b, top), sur)));
    // Signed 16-bit to unsigned 8-bit: 0x100-0x7FFF become 255, 0x8000-0xFFFF 0.
    return _mm_packus_epi16(a, b);
  } else {
    const __m128i top = _mm_set1_epi32(static_cast<int>(0xFFFFF800u));
    const __m128i sur = _mm_set1_epi32(0xD800);
    __m128i x[4];
    for (int k = 0; k < 4; ++k) {
      x[k] = _mm_loadu_si128(v + k);
      surrogates = _mm_or_si128(surrogates, _mm_cmpeq_epi32(_mm_and_si128(x[k], top), sur));
    }
    // Code points fit in 31 bits: first to 0-32767, then to 0-255.
    return _mm_packus_epi16(_mm_packs_epi32(x[0], x[1]), _mm_packs_epi32(x[2], x[3]));
  }
}

inline std::uint64_t bits(__m128i hits, int shift) {
  return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))} << shift;
}
inline __m128i eq(__m128i x, char c) { return _mm_cmpeq_epi8(x, _mm_set1_epi8(c)); }

// Masks of the 64 units at `p`; true when one of them is a surrogate.
template <class Unit>
bool compute_masks(const Unit* p, BlockMasks& m) {
  m = BlockMasks{};
  __m128i surrogates = _mm_setzero_si128();
  for (int k = 0; k < 4; ++k) {
    const __m128i x = load16(p + 16 * k, surrogates);
    const int shift = 16 * k;
    m.lt |= bits(eq(x, '<'), shift);
    m.gt |= bits(eq(x, '>'), shift);
    m.slash_eq |= bits(_mm_or_si128(eq(x, '/'), eq(x, '=')), shift);
    m.quote |= bits(_mm_or_si128(eq(x, '"'), eq(x, '\'')), shift);
    // Space, or tab to CR (9-13) except vertical tab.
    const __m128i t = _mm_sub_epi8(x, _mm_set1_epi8(9));
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(4)), t);
    m.space |= bits(_mm_or_si128(eq(x, ' '), _mm_andnot_si128(eq(x, '\v'), low)), shift);
  }
  return _mm_movemask_epi8(surrogates) != 0;
}
#else
template <class Unit>
bool compute_masks(const Unit* p, BlockMasks& m) {
  m = BlockMasks{};
  bool surrogate = false;
  for (std::size_t k = 0; k < kBlock; ++k) {
    const std::uint64_t bit = std::uint64_t{1} << k;
    const Unit c = p[k];
    if (is(c, '<')) m.lt |= bit;
    if (is(c, '>')) m.gt |= bit;
    if (is(c, '/') || is(c, '=')) m.slash_eq |= bit;
    if (is(c, '"') || is(c, '\'')) m.quote |= bit;
    if (is_space(c)) m.space |= bit;
    surrogate |= is_surrogate(c);
  }
  return surrogate;
}
#endif

// ---- the scanner ------------------------------------------------------------------

// What reading one start tag yields.
template <class Unit>
struct StartTag {
  std::basic_string_view<Unit> name;
  NameKind kind = NameKind::kOther;
  std::size_t splice_at = 0;  // end of the last attribute, or of the name
  std::size_t end = 0;        // just past '>' or '/>', or the end of the input
  bool self_closing = false;
  bool has_placeholder_attr = false;
  std::basic_string_view<Unit> placeholder_value;
};

template <class Unit>
class MarkScanner {
 public:
  using View = std::basic_string_view<Unit>;

  MarkScanner(View in, std::optional<View> placeholder_attr, MarkListener<Unit>* listener)
      : in_(in), p_(in.data()), n_(in.size()), placeholder_attr_(placeholder_attr), listener_(listener) {}

  BasicMarkPlan<Unit> run() {
    while (pos_ < n_) {
      // Tags often follow each other directly; no search is needed then.
      const std::size_t lt = is(p_[pos_], '<') ? pos_ : find<kLt>(pos_);
      if (lt == n_) break;
      scan_markup(lt);
    }
    close_segment(n_);
    // Every block is computed in order as the scan moves on; the check
    // covers whatever it did not reach all the same.
    for (std::size_t i = checked_; i < n_ && !plan_.has_surrogates; ++i) plan_.has_surrogates = is_surrogate(p_[i]);
    return std::move(plan_);
  }

 private:
  // Kind of the name of `size` units at `at`.
  NameKind name_kind(std::size_t at, std::size_t size) const {
    if (size < 2 || size > 8) return NameKind::kOther;
    std::uint64_t key = 0;
#if defined(__SSE2__)
    if (n_ - at >= 8) {
      __m128i x;
      const auto* v = reinterpret_cast<const __m128i*>(p_ + at);
      if constexpr (sizeof(Unit) == 1) {
        x = _mm_loadl_epi64(v);
      } else if constexpr (sizeof(Unit) == 2) {
        x = _mm_packus_epi16(_mm_loadu_si128(v), _mm_setzero_si128());
      } else {
        x = _mm_packus_epi16(_mm_packs_epi32(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)), _mm_setzero_si128());
      }
      _mm_storel_epi64(reinterpret_cast<__m128i*>(&key), x);
    } else
#endif
    {
      for (std::size_t i = 0; i < size; ++i) {
        const std::uint32_t v = value_of(p_[at + i]);
        key |= std::uint64_t{v < 256 ? v : 255} << (8 * i);
      }
    }
    key |= 0x2020202020202020ull;
    if (size < 8) key &= (std::uint64_t{1} << (8 * size)) - 1;
    const KnownName& known = kKnownNames.slots[name_slot(key)];
    return known.key == key && known.size == size ? known.kind : NameKind::kOther;
  }

  // Masks of the block that holds unit `i` (< n_). The last block is read
  // through a copy padded with zero units, which are in no set.
  const BlockMasks& block_of(std::size_t i) {
    const std::size_t base = i & ~(kBlock - 1);
    if (base != block_base_) {
      block_base_ = base;
      bool surrogate = false;
      if (n_ - base >= kBlock) {
        surrogate = compute_masks(p_ + base, masks_);
      } else {
        Unit tail[kBlock] = {};
        std::copy(p_ + base, p_ + n_, tail);
        surrogate = compute_masks(tail, masks_);
      }
      if (base == checked_) {
        checked_ = std::min(base + kBlock, n_);
        plan_.has_surrogates |= surrogate;
      }
    }
    return masks_;
  }

  template <unsigned Set>
  static std::uint64_t select(const BlockMasks& m) {
    std::uint64_t bits = 0;
    if constexpr ((Set & kLt) != 0) bits |= m.lt;
    if constexpr ((Set & kGt) != 0) bits |= m.gt;
    if constexpr ((Set & kSpace) != 0) bits |= m.space;
    if constexpr ((Set & kSlashEq) != 0) bits |= m.slash_eq;
    if constexpr ((Set & kQuote) != 0) bits |= m.quote;
    return bits;
  }

  // First unit at or after `from` in `Set` (or, with Invert, not in it);
  // n_ when there is none.
  template <unsigned Set, bool Invert = false>
  std::size_t find(std::size_t from) {
    while (from < n_) {
      const BlockMasks& m = block_of(from);
      std::uint64_t bits = select<Set>(m);
      if constexpr (Invert) bits = ~bits;
      bits &= ~std::uint64_t{0} << (from - block_base_);
      if (bits != 0) {
        const std::size_t at = block_base_ + static_cast<std::size_t>(__builtin_ctzll(bits));
        // Padding units are in no set, so only an inverted set finds one.
        return Invert ? std::min(at, n_) : at;
      }
      from = block_base_ + kBlock;
    }
    return n_;
  }

  // Just past the first '>' at or after `from`, or the end of the input.
  std::size_t past_gt(std::size_t from) {
    const std::size_t gt = find<kGt>(from);
    return gt == n_ ? n_ : gt + 1;
  }
  // Just past the first "cc>" that starts at or after `from` ("-->" or
  // "]]>"), or the end of the input.
  std::size_t past_close(char c, std::size_t from) {
    for (std::size_t gt = find<kGt>(from + 2); gt < n_; gt = find<kGt>(gt + 1)) {
      if (is(p_[gt - 1], c) && is(p_[gt - 2], c)) return gt + 1;
    }
    return n_;
  }
  std::size_t skip_space(std::size_t i) {
    // Mostly there is none, or one.
    if (i >= n_ || !is_space(p_[i])) return i;
    if (i + 1 >= n_ || !is_space(p_[i + 1])) return i + 1;
    return find<kSpace, true>(i + 2);
  }
  bool starts_at(std::size_t i, std::string_view s) const {
    if (n_ - i < s.size()) return false;
    for (std::size_t k = 0; k < s.size(); ++k) {
      if (!is(p_[i + k], s[k])) return false;
    }
    return true;
  }

  void scan_markup(std::size_t lt) {
    const Unit next = lt + 1 < n_ ? p_[lt + 1] : Unit{};
    if (is_alpha(next)) {
      scan_start_tag(lt);
    } else if (is(next, '/')) {
      scan_end_tag(lt);
    } else if (is(next, '!') && starts_at(lt, "<!--")) {
      pos_ = past_close('-', lt + 4);
    } else if (is(next, '!') && starts_at(lt, "<![CDATA[")) {
      pos_ = past_close(']', lt + 9);
    } else if (is(next, '!') || is(next, '?')) {
      pos_ = past_gt(lt + 1);
    } else {
      pos_ = lt + 1;  // a stray '<' is text
    }
  }

  void scan_end_tag(std::size_t lt) {
    const std::size_t name_end = find<kSpace | kGt>(lt + 2);
    // The name holds no '>', so the tag's '>' is at or after its end.
    pos_ = name_end < n_ && is(p_[name_end], '>') ? name_end + 1 : past_gt(name_end);
    if (name_kind(lt + 2, name_end - lt - 2) != NameKind::kVoid) --depth_;
  }

  StartTag<Unit> read_start_tag(std::size_t lt) {
    StartTag<Unit> tag;
    // A '=' does not end a tag name (and hardly ever appears in one).
    std::size_t i = find<kSpace | kSlashEq | kGt>(lt + 1);
    while (i < n_ && is(p_[i], '=')) i = find<kSpace | kSlashEq | kGt>(i + 1);
    tag.name = in_.substr(lt + 1, i - lt - 1);
    tag.kind = name_kind(lt + 1, tag.name.size());
    tag.splice_at = i;
    // Only a template element can be a placeholder.
    const bool look_for_placeholder_attr = tag.kind == NameKind::kTemplate && placeholder_attr_;
    while (true) {
      i = skip_space(i);
      if (i >= n_) {
        tag.end = n_;
        return tag;
      }
      const Unit c = p_[i];
      if (is(c, '>')) {
        tag.end = i + 1;
        return tag;
      }
      if (is(c, '/')) {
        if (i + 1 < n_ && is(p_[i + 1], '>')) {
          tag.self_closing = true;
          tag.end = i + 2;
          return tag;
        }
        ++i;
        continue;
      }
      // An attribute: name, then optionally '=' and a value.
      const std::size_t name_start = i;
      i = find<kSpace | kSlashEq | kGt>(i);
      const View attr_name = in_.substr(name_start, i - name_start);
      View value;
      std::size_t j = skip_space(i);
      if (j < n_ && is(p_[j], '=')) {
        j = skip_space(j + 1);
        if (j >= n_) {
          i = n_;
        } else if (is(p_[j], '"') || is(p_[j], '\'')) {
          const Unit quote = p_[j];
          std::size_t close = find<kQuote>(j + 1);
          while (close < n_ && p_[close] != quote) close = find<kQuote>(close + 1);
          value = in_.substr(j + 1, close - j - 1);
          i = close == n_ ? n_ : close + 1;
        } else {
          const std::size_t value_end = find<kSpace | kGt>(j);
          value = in_.substr(j, value_end - j);
          i = value_end;
        }
      }
      // A bare attribute ends with its name; the scan resumes there.
      tag.splice_at = i;
      if (look_for_placeholder_attr && iequal(attr_name, *placeholder_attr_)) {
        tag.has_placeholder_attr = true;
        tag.placeholder_value = value;
      }
    }
  }

  // End of a placeholder's "</template>" when only whitespace lies between
  // the start tag and it; none (n_ + 1) otherwise.
  std::size_t placeholder_end(const StartTag<Unit>& tag) {
    constexpr std::string_view kTemplate = "template";
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    if (tag.self_closing || !tag.has_placeholder_attr) return kNone;
    std::size_t i = skip_space(tag.end);
    if (n_ - i < 2 + kTemplate.size() || !is(p_[i], '<') || !is(p_[i + 1], '/') ||
        !iequal(in_.substr(i + 2, kTemplate.size()), kTemplate)) {
      return kNone;
    }
    i = skip_space(i + 2 + kTemplate.size());
    return i < n_ && is(p_[i], '>') ? i + 1 : kNone;
  }

  // Just past the end tag that closes a raw-text element called `name`
  // whose content starts at `from`, or the end of the input.
  std::size_t raw_text_end(View name, std::size_t from) {
    for (std::size_t lt = find<kLt>(from); lt < n_; lt = find<kLt>(lt + 1)) {
      const std::size_t after = lt + 2 + name.size();
      if (after > n_ || !is(p_[lt + 1], '/') || !iequal(in_.substr(lt + 2, name.size()), name)) continue;
      if (after < n_ && !is_space(p_[after]) && !is(p_[after], '/') && !is(p_[after], '>')) continue;
      return past_gt(after);
    }
    return n_;
  }

  void scan_start_tag(std::size_t lt) {
    const StartTag<Unit> tag = read_start_tag(lt);
    const NameKind kind = tag.kind;
    const bool root = depth_ == 0;

    if (kind == NameKind::kTemplate) {
      if (const std::size_t end = placeholder_end(tag); end <= n_) {
        close_segment(lt);
        MarkPiece piece{lt, end, plan_.splices.size(), root ? 1u : 0u};
        if (root) plan_.splices.push_back(tag.splice_at);
        plan_.placeholders.push_back(BasicMarkedPlaceholder<Unit>{tag.placeholder_value, piece, root});
        segment_begin_ = end;
        segment_first_splice_ = plan_.splices.size();
        pos_ = end;
        if (listener_ != nullptr) listener_->on_placeholder(plan_);
        return;
      }
    }

    if (root) plan_.splices.push_back(tag.splice_at);
    pos_ = tag.end;
    if (kind == NameKind::kRawText && !tag.self_closing) {
      pos_ = raw_text_end(tag.name, tag.end);
      return;
    }
    if (tag.self_closing || kind == NameKind::kVoid) return;
    ++depth_;
  }

  void close_segment(std::size_t end) {
    plan_.segments.push_back(MarkPiece{segment_begin_, end, segment_first_splice_,
                                       plan_.splices.size() - segment_first_splice_});
  }

  View in_;
  const Unit* p_;
  std::size_t n_;
  std::optional<View> placeholder_attr_;
  MarkListener<Unit>* listener_;
  std::size_t pos_ = 0;
  std::uint32_t depth_ = 0;  // wraps on stray end tags, by design
  std::size_t segment_begin_ = 0;
  std::size_t segment_first_splice_ = 0;
  std::size_t block_base_ = static_cast<std::size_t>(-1);
  std::size_t checked_ = 0;  // units before it were checked for surrogates
  BlockMasks masks_;
  BasicMarkPlan<Unit> plan_;
};

}  // namespace

template <class Unit>
BasicMarkPlan<Unit> plan_unit_marks(std::basic_string_view<Unit> html,
                                    std::optional<std::basic_string_view<Unit>> placeholder_attr,
                                    MarkListener<Unit>* listener) {
  return MarkScanner<Unit>(html, placeholder_attr, listener).run();
}

template BasicMarkPlan<char> plan_unit_marks(std::string_view, std::optional<std::string_view>, MarkListener<char>*);
template BasicMarkPlan<char16_t> plan_unit_marks(std::u16string_view, std::optional<std::u16string_view>,
                                                 MarkListener<char16_t>*);
template BasicMarkPlan<char32_t> plan_unit_marks(std::u32string_view, std::optional<std::u32string_view>,
                                                 MarkListener<char32_t>*);

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
