// html_transform.transform_html and html_transform.mark_html: argument
// binding and conversion.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "html/mark.h"
#include "html/transform.h"
#include "module/binder.h"
#include "module/convert.h"
#include "module/functions.h"

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

// Code points in UTF-8 text: every byte that is not a continuation byte
// (10xxxxxx) starts one. Eight bytes at a time.
std::size_t count_code_points(const char* p, std::size_t n) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  std::size_t count = n;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    // One bit per continuation byte, moved to the byte's low bit and summed
    // by multiplication (no popcount instruction on baseline x86-64).
    const std::uint64_t continuation = ((w & ~(w << 1)) & kHighBits) >> 7;
    count -= static_cast<std::size_t>((continuation * 0x0101010101010101ull) >> 56);
  }
  for (; i < n; ++i) count -= (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80;
  return count;
}

// Builds the str of each marked piece; pieces must be asked for in document
// order. When the input and the splice are ASCII, a piece is written straight
// into a new str. Otherwise it is cut out of the input str by code point
// index (no UTF-8 decoding), with the splice joined in where it belongs.
class PieceWriter {
 public:
  PieceWriter(const html::MarkPlan& plan, PyObject* html_obj, std::string_view html,
              std::string_view splice)
      : plan_(plan),
        html_obj_(html_obj),
        html_(html),
        splice_(splice),
        ascii_(PyUnicode_IS_ASCII(html_obj) && is_ascii(splice)) {}

  OwnedRef str(const html::MarkPiece& piece) {
    if (ascii_) {
      const std::size_t size = html::piece_size(piece, splice_);
      OwnedRef text = OwnedRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
      html::write_piece(plan_, piece, html_, splice_, static_cast<char*>(PyUnicode_DATA(text.get())));
      return text;
    }
    if (piece.splice_count == 0) return substring(piece.begin, piece.end);
    if (!splice_str_) {
      splice_str_ = new_str(splice_);
      empty_str_ = OwnedRef::steal(PyUnicode_New(0, 0));
    }
    OwnedRef parts = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(2 * piece.splice_count + 1)));
    std::size_t cur = piece.begin;
    for (std::size_t k = 0; k < piece.splice_count; ++k) {
      const std::size_t at = plan_.splices[piece.first_splice + k];
      PyList_SET_ITEM(parts.get(), static_cast<Py_ssize_t>(2 * k), substring(cur, at).release());
      PyList_SET_ITEM(parts.get(), static_cast<Py_ssize_t>(2 * k + 1),
                      OwnedRef::incref(splice_str_.get()).release());
      cur = at;
    }
    PyList_SET_ITEM(parts.get(), static_cast<Py_ssize_t>(2 * piece.splice_count),
                    substring(cur, piece.end).release());
    return OwnedRef::steal(PyUnicode_Join(empty_str_.get(), parts.get()));
  }

 private:
  // Code point index of a byte offset; offsets only move forward.
  Py_ssize_t code_point_at(std::size_t offset) {
    code_point_ += count_code_points(html_.data() + byte_offset_, offset - byte_offset_);
    byte_offset_ = offset;
    return static_cast<Py_ssize_t>(code_point_);
  }
  OwnedRef substring(std::size_t begin, std::size_t end) {
    const Py_ssize_t from = code_point_at(begin);
    return OwnedRef::steal(PyUnicode_Substring(html_obj_, from, code_point_at(end)));
  }

  const html::MarkPlan& plan_;
  PyObject* html_obj_;
  std::string_view html_;
  std::string_view splice_;
  bool ascii_;
  std::size_t byte_offset_ = 0;
  std::size_t code_point_ = 0;
  OwnedRef splice_str_;
  OwnedRef empty_str_;
};

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
    const std::string_view html = a.convert(0, as_utf8);
    const std::vector<std::string> root_attributes = a.convert(1, to_string_vector);
    const std::string_view placeholder_attr = a.convert(2, as_utf8);

    const html::MarkPlan plan = html::plan_marks(html, placeholder_attr);
    const std::string splice = html::build_root_splice(root_attributes);
    PieceWriter writer(plan, a[0], html, splice);

    const std::size_t count = plan.placeholders.size();
    OwnedRef segments = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(count + 1)));
    OwnedRef placeholders = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i <= count; ++i) {
      PyList_SET_ITEM(segments.get(), static_cast<Py_ssize_t>(i), writer.str(plan.segments[i]).release());
      if (i == count) break;
      const html::MarkedPlaceholder& ph = plan.placeholders[i];
      OwnedRef id = new_str(ph.id);
      OwnedRef text = writer.str(ph.html);
      OwnedRef added = ph.root ? string_list(root_attributes) : OwnedRef::steal(PyList_New(0));
      OwnedRef record = OwnedRef::steal(PyTuple_New(3));
      PyTuple_SET_ITEM(record.get(), 0, id.release());
      PyTuple_SET_ITEM(record.get(), 1, text.release());
      PyTuple_SET_ITEM(record.get(), 2, added.release());
      PyList_SET_ITEM(placeholders.get(), static_cast<Py_ssize_t>(i), record.release());
    }
    return pair(std::move(segments), std::move(placeholders));
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
