// html_transform.transform_html and html_transform.mark_html: argument
// binding and conversion.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "html/mark.h"
#include "html/transform.h"
#include "module/binder.h"
#include "module/convert.h"
#include "module/functions.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumra::py {
namespace {

bool is_ascii(std::string_view text) {
  unsigned char any = 0;
  for (char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

OwnedRef string_list(const std::vector<std::string>& names) {
  OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(names.size())));
  for (std::size_t i = 0; i < names.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_str(names[i]).release());
  }
  return list;
}

OwnedRef captured_dict(const std::vector<html::CapturedAttributes>& captured) {
  OwnedRef dict = OwnedRef::steal(PyDict_New());
  for (const html::CapturedAttributes& record : captured) {
    OwnedRef key = new_str(record.value);
    OwnedRef added = string_list(record.added);
    check(PyDict_SetItem(dict.get(), key.get(), added.get()));  // a later value wins
  }
  return dict;
}

OwnedRef pair(OwnedRef first, OwnedRef second) {
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(2));
  PyTuple_SET_ITEM(tuple.get(), 0, first.release());
  PyTuple_SET_ITEM(tuple.get(), 1, second.release());
  return tuple;
}

// A lone surrogate (U+D800-U+DFFF) in `text` raises the interpreter's
// UnicodeEncodeError, as reading the str as UTF-8 does. The scan tells
// whether there is one; this finds it again, as it is only called to raise.
void refuse_lone_surrogates(PyObject* text) {
  const int kind = PyUnicode_KIND(text);
  if (kind == PyUnicode_1BYTE_KIND) return;
  const void* data = PyUnicode_DATA(text);
  const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
  for (Py_ssize_t i = 0; i < n; ++i) {
    if ((PyUnicode_READ(kind, data, i) & 0xFFFFF800u) == 0xD800) {
      as_utf8(text);  // raises
      return;
    }
  }
}

// Code units of a str's own storage: bytes for ASCII and Latin-1 strs.
template <class Unit>
std::basic_string_view<Unit> units_of(PyObject* str) {
  return {static_cast<const Unit*>(PyUnicode_DATA(str)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(str))};
}

// `name` in the code units of an input of that width, or std::nullopt when
// it holds a code point they cannot hold (then no attribute can match it).
// A str is stored in its narrowest kind, so the kind tells.
template <class Unit>
std::optional<std::basic_string<Unit>> name_in_units(PyObject* name) {
  constexpr Py_UCS4 kMax = sizeof(Unit) == 1 ? 0xFF : sizeof(Unit) == 2 ? 0xFFFF : 0x10FFFF;
  if (PyUnicode_MAX_CHAR_VALUE(name) > kMax) return std::nullopt;
  const int kind = PyUnicode_KIND(name);
  const void* data = PyUnicode_DATA(name);
  const Py_ssize_t n = PyUnicode_GET_LENGTH(name);
  std::basic_string<Unit> out(static_cast<std::size_t>(n), Unit{});
  for (Py_ssize_t i = 0; i < n; ++i) {
    out[static_cast<std::size_t>(i)] = static_cast<Unit>(PyUnicode_READ(kind, data, i));
  }
  return out;
}

// ---- strs from wide code units ----------------------------------------------
//
// A piece of a UCS-2 or UCS-4 str often fits a narrower kind, and a str must
// be stored in its narrowest. PyUnicode_Substring finds that out and narrows
// one unit at a time; this does both sixteen bytes at a time.

// The OR of the units, enough to tell the narrowest kind (its limits are
// powers of two). Stops early once the units need their own full width.
template <class Unit>
std::uint32_t or_of_units(const Unit* p, std::size_t n) {
  constexpr std::uint32_t kFull = sizeof(Unit) == 2 ? 0xFF00u : 0xFFFF0000u;
  std::uint32_t bits = 0;
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr std::size_t kLanes = 16 / sizeof(Unit);
  const __m128i full = sizeof(Unit) == 2 ? _mm_set1_epi16(static_cast<short>(0xFF00))
                                         : _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
  __m128i acc = _mm_setzero_si128();
  for (; i + 4 * kLanes <= n; i += 4 * kLanes) {
    const auto* v = reinterpret_cast<const __m128i*>(p + i);
    acc = _mm_or_si128(acc, _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                                         _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3))));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(acc, full), _mm_setzero_si128())) != 0xFFFF) {
      return kFull;
    }
  }
  for (; i + kLanes <= n; i += kLanes) acc = _mm_or_si128(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
  acc = _mm_or_si128(acc, _mm_srli_si128(acc, 8));
  acc = _mm_or_si128(acc, _mm_srli_si128(acc, 4));
  bits = static_cast<std::uint32_t>(_mm_cvtsi128_si32(acc));
  if constexpr (sizeof(Unit) == 2) bits = (bits | (bits >> 16)) & 0xFFFF;
#endif
  for (; i < n; ++i) bits |= static_cast<std::uint32_t>(p[i]);
  return bits;
}

// Copies units that all fit `Out` (a narrower unit type).
template <class Out, class Unit>
void narrow_units(const Unit* p, std::size_t n, Out* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const auto* in = reinterpret_cast<const __m128i*>(p);
  if constexpr (sizeof(Unit) == 2 && sizeof(Out) == 1) {
    for (; i + 16 <= n; i += 16, in += 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(_mm_loadu_si128(in), _mm_loadu_si128(in + 1)));
    }
  } else if constexpr (sizeof(Unit) == 4 && sizeof(Out) == 1) {
    for (; i + 16 <= n; i += 16, in += 4) {
      const __m128i lo = _mm_packs_epi32(_mm_loadu_si128(in), _mm_loadu_si128(in + 1));
      const __m128i hi = _mm_packs_epi32(_mm_loadu_si128(in + 2), _mm_loadu_si128(in + 3));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
  } else if constexpr (sizeof(Unit) == 4 && sizeof(Out) == 2) {
    // Signed packing is exact on 0..0xFFFF moved down by 0x8000.
    const __m128i bias32 = _mm_set1_epi32(0x8000);
    const __m128i bias16 = _mm_set1_epi16(static_cast<short>(0x8000));
    for (; i + 8 <= n; i += 8, in += 2) {
      const __m128i packed = _mm_packs_epi32(_mm_sub_epi32(_mm_loadu_si128(in), bias32),
                                             _mm_sub_epi32(_mm_loadu_si128(in + 1), bias32));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi16(packed, bias16));
    }
  }
#endif
  for (; i < n; ++i) out[i] = static_cast<Out>(p[i]);
}

// A new str of the code points p[0..n), in its narrowest kind.
template <class Unit>
OwnedRef str_of_units(const Unit* p, std::size_t n) {
  const std::uint32_t bits = or_of_units(p, n);
  const Py_UCS4 max_char = bits >= 0x10000 ? 0x10FFFF : bits >= 0x100 ? 0xFFFF : bits >= 0x80 ? 0xFF : 0x7F;
  OwnedRef text = OwnedRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(n), max_char));
  if (n == 0) return text;
  void* out = PyUnicode_DATA(text.get());
  switch (PyUnicode_KIND(text.get())) {
    case PyUnicode_1BYTE_KIND:
      narrow_units(p, n, static_cast<Py_UCS1*>(out));
      break;
    case PyUnicode_2BYTE_KIND:
      if constexpr (sizeof(Unit) == 2) {
        std::memcpy(out, p, n * 2);
      } else {
        narrow_units(p, n, static_cast<Py_UCS2*>(out));
      }
      break;
    default:
      std::memcpy(out, p, n * sizeof(Unit));  // only a UCS-4 input has such pieces
      break;
  }
  return text;
}

// Builds the str of each marked piece. Plan offsets are code point indexes
// of the input str (its units are its code points), so a piece without a
// splice is a substring. When the input and the splice are ASCII, a spliced
// piece is written straight into a new str; otherwise its input runs and the
// splice are joined, which gives the exact (narrowest) str kind.
template <class Unit>
class PieceWriter {
 public:
  PieceWriter(PyObject* html_obj, std::basic_string_view<Unit> html, std::string_view splice)
      : html_obj_(html_obj), html_(html), splice_(splice) {
    if constexpr (std::is_same_v<Unit, char>) ascii_ = PyUnicode_IS_ASCII(html_obj) && is_ascii(splice);
  }

  OwnedRef str(const html::BasicMarkPlan<Unit>& plan, const html::MarkPiece& piece) {
    if (piece.splice_count == 0) return substring(piece.begin, piece.end);
    if constexpr (std::is_same_v<Unit, char>) {
      if (ascii_) {
        const std::size_t size = html::piece_size(piece, splice_);
        OwnedRef text = OwnedRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
        html::write_piece(plan, piece, html_, splice_, static_cast<char*>(PyUnicode_DATA(text.get())));
        return text;
      }
    }
    if (!splice_str_) {
      splice_str_ = new_str(splice_);
      empty_str_ = OwnedRef::steal(PyUnicode_New(0, 0));
    }
    OwnedRef parts = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(2 * piece.splice_count + 1)));
    std::size_t cur = piece.begin;
    for (std::size_t k = 0; k < piece.splice_count; ++k) {
      const std::size_t at = plan.splices[piece.first_splice + k];
      PyList_SET_ITEM(parts.get(), static_cast<Py_ssize_t>(2 * k), substring(cur, at).release());
      PyList_SET_ITEM(parts.get(), static_cast<Py_ssize_t>(2 * k + 1),
                      OwnedRef::incref(splice_str_.get()).release());
      cur = at;
    }
    PyList_SET_ITEM(parts.get(), static_cast<Py_ssize_t>(2 * piece.splice_count),
                    substring(cur, piece.end).release());
    return OwnedRef::steal(PyUnicode_Join(empty_str_.get(), parts.get()));
  }

  // A view into the input as a str.
  OwnedRef str(std::basic_string_view<Unit> part) {
    if (part.empty()) return OwnedRef::steal(PyUnicode_New(0, 0));
    const auto begin = static_cast<std::size_t>(part.data() - html_.data());
    return substring(begin, begin + part.size());
  }

 private:
  OwnedRef substring(std::size_t begin, std::size_t end) {
    if constexpr (sizeof(Unit) > 1) {
      // The whole input is the input itself, as PyUnicode_Substring gives it.
      if (begin != 0 || end != html_.size() || !PyUnicode_CheckExact(html_obj_)) {
        return str_of_units(html_.data() + begin, end - begin);
      }
    }
    return OwnedRef::steal(
        PyUnicode_Substring(html_obj_, static_cast<Py_ssize_t>(begin), static_cast<Py_ssize_t>(end)));
  }

  PyObject* html_obj_;
  std::basic_string_view<Unit> html_;
  std::string_view splice_;
  bool ascii_ = false;
  OwnedRef splice_str_;
  OwnedRef empty_str_;
};

// Collects the result as the scan goes: each segment and placeholder becomes
// a str as soon as it is final, while its input is still in cache.
template <class Unit>
class MarkCollector final : public html::MarkListener<Unit> {
 public:
  MarkCollector(PieceWriter<Unit>& writer, const std::vector<std::string>& root_attributes)
      : writer_(writer), root_attributes_(root_attributes) {}

  void on_placeholder(const html::BasicMarkPlan<Unit>& plan) override {
    const std::size_t i = plan.placeholders.size() - 1;
    segments_.push_back(writer_.str(plan, plan.segments[i]));
    const html::BasicMarkedPlaceholder<Unit>& ph = plan.placeholders[i];
    OwnedRef id = writer_.str(ph.id);
    OwnedRef text = writer_.str(plan, ph.html);
    OwnedRef added = ph.root ? string_list(root_attributes_) : OwnedRef::steal(PyList_New(0));
    OwnedRef record = OwnedRef::steal(PyTuple_New(3));
    PyTuple_SET_ITEM(record.get(), 0, id.release());
    PyTuple_SET_ITEM(record.get(), 1, text.release());
    PyTuple_SET_ITEM(record.get(), 2, added.release());
    placeholders_.push_back(std::move(record));
  }

  // (segments, placeholders), once the scan has returned `plan`.
  OwnedRef finish(const html::BasicMarkPlan<Unit>& plan) {
    segments_.push_back(writer_.str(plan, plan.segments.back()));
    return pair(list_of(segments_), list_of(placeholders_));
  }

 private:
  static OwnedRef list_of(std::vector<OwnedRef>& items) {
    OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t i = 0; i < items.size(); ++i) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), items[i].release());
    }
    return list;
  }

  PieceWriter<Unit>& writer_;
  const std::vector<std::string>& root_attributes_;
  std::vector<OwnedRef> segments_;
  std::vector<OwnedRef> placeholders_;
};

// Scans the input str in its own code units and returns (segments, placeholders).
template <class Unit>
OwnedRef mark_units(PyObject* html_obj, PyObject* attr_obj, const std::vector<std::string>& root_attributes,
                    const std::string& splice) {
  const std::basic_string_view<Unit> html = units_of<Unit>(html_obj);
  const std::optional<std::basic_string<Unit>> attr = name_in_units<Unit>(attr_obj);
  PieceWriter<Unit> writer(html_obj, html, splice);
  MarkCollector<Unit> collector(writer, root_attributes);
  const html::BasicMarkPlan<Unit> plan = html::plan_unit_marks<Unit>(
      html, attr ? std::optional<std::basic_string_view<Unit>>(*attr) : std::nullopt, &collector);
  if (plan.has_surrogates) refuse_lone_surrogates(html_obj);
  return collector.finish(plan);
}

PyObject* transform_html(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"transform_html()",
                             Param{"html"},
                             Param{"root_attributes"},
                             Param{"all_attributes"},
                             Param{"check_end_names", Arg::Optional, true},
                             Param{"track_added_attributes_for_tags_with_this_attribute", Arg::Optional, true}};
  return entry([&]() -> OwnedRef {
    auto a = sig.bind(args, nargs, kwnames);
    const std::string_view html = a.convert(0, as_utf8);
    html::TransformOptions options;
    options.root_attributes = a.convert(1, to_string_vector);
    options.all_attributes = a.convert(2, to_string_vector);
    const bool check_end_names = a.convert_or(3, to_bool, false);
    if (a.has(4)) options.tracked_attribute = a.convert(4, to_string);

    html::TransformResult result = html::transform_html(html, options, check_end_names);
    if (auto* error = std::get_if<html::TransformError>(&result)) {
      raise(PyExc_ValueError, error->message);
    }
    const auto& output = std::get<html::TransformOutput>(result);
    OwnedRef text = OwnedRef::steal(PyUnicode_DecodeUTF8(
        output.html.data(), static_cast<Py_ssize_t>(output.html.size()), nullptr));
    return pair(std::move(text), captured_dict(output.captured));
  });
}

PyObject* mark_html(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"mark_html()", Param{"html"}, Param{"root_attributes"}, Param{"placeholder_attr"}};
  return entry([&]() -> OwnedRef {
    auto a = sig.bind(args, nargs, kwnames);
    PyObject* html = a.convert(0, as_str);
    std::vector<std::string> root_attributes;
    try {
      root_attributes = a.convert(1, to_string_vector);
      a.convert(2, as_utf8);  // a str without lone surrogates
    } catch (const PyErrAlreadySet&) {
      // A lone surrogate in `html` is that argument's error and comes first;
      // otherwise the scan finds them.
      OwnedRef pending = OwnedRef::steal_nullable(PyErr_GetRaisedException());
      refuse_lone_surrogates(html);
      PyErr_SetRaisedException(pending.release());
      throw;
    }
    const std::string splice = html::build_root_splice(root_attributes);

    // The str's storage is read in place, never converted: ASCII and Latin-1
    // strs as bytes, the wider kinds as 16- or 32-bit units.
    switch (PyUnicode_KIND(html)) {
      case PyUnicode_1BYTE_KIND:
        return mark_units<char>(html, a[2], root_attributes, splice);
      case PyUnicode_2BYTE_KIND:
        return mark_units<char16_t>(html, a[2], root_attributes, splice);
      default:
        return mark_units<char32_t>(html, a[2], root_attributes, splice);
    }
  });
}

}  // namespace

PyMethodDef transform_html_method = {
    "transform_html",
    fastcall_function(transform_html),
    METH_FASTCALL | METH_KEYWORDS,
    "transform_html(html, root_attributes, all_attributes, *, check_end_names=False, "
    "track_added_attributes_for_tags_with_this_attribute=None)\n--\n\n"
    "Add attributes to the root-level elements and to all elements of an HTML string.\n\n"
    "Args:\n"
    "    html (str): The HTML to transform.\n"
    "    root_attributes (list[str]): Attributes added to every root-level element.\n"
    "    all_attributes (list[str]): Attributes added to every element.\n"
    "    check_end_names (bool): Whether end tags must match their start tags.\n"
    "    track_added_attributes_for_tags_with_this_attribute (str | None): For elements\n"
    "        that carry this attribute, report which attributes were added, keyed by\n"
    "        the attribute's value.\n\n"
    "Returns:\n"
    "    tuple[str, dict[str, list[str]]]: The transformed HTML and the added attributes.\n\n"
    "Raises:\n"
    "    ValueError: If the HTML cannot be read.",
};

PyMethodDef mark_html_method = {
    "mark_html",
    fastcall_function(mark_html),
    METH_FASTCALL | METH_KEYWORDS,
    "mark_html(html, root_attributes, placeholder_attr)\n--\n\n"
    "Add attributes to the root-level elements of an HTML string and split it around\n"
    "placeholder <template> elements.\n\n"
    "Args:\n"
    "    html (str): The HTML to mark.\n"
    "    root_attributes (list[str]): Empty attributes added to every root-level start tag.\n"
    "    placeholder_attr (str): The attribute that marks placeholder <template> elements.\n\n"
    "Returns:\n"
    "    The HTML segments between placeholders, and the placeholders found.",
};

}  // namespace lumra::py
