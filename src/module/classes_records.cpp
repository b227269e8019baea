// Python classes of the leaf records of the syntax tree: Token, Comment,
// HtmlAttrKind, FillDataField, FillDataPattern, HtmlAttr, HtmlStartTag,
// HtmlEndTag, Expr and Text. Each instance owns one native record and never
// changes; getters return new objects built from copies; == compares values.
#include <fmt/format.h>

#include "module/classes_common.h"
#include "template/ast/debug.h"

namespace lumra::py {

namespace ast = template_ast;

// ---- shared conversions ----------------------------------------------------

namespace {

// NumPy's boolean scalar, recognised by name so that NumPy need not be loaded.
bool is_numpy_bool_type(PyTypeObject* type) {
  OwnedRef module = OwnedRef::steal_nullable(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module || !PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    PyErr_Clear();
    return false;
  }
  OwnedRef name = OwnedRef::steal_nullable(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

bool bool_arg(PyObject* obj) {
  if (PyBool_Check(obj)) return obj == Py_True;
  PyTypeObject* type = Py_TYPE(obj);
  if (is_numpy_bool_type(type)) {
    inquiry to_bool_slot = type->tp_as_number ? type->tp_as_number->nb_bool : nullptr;
    if (to_bool_slot == nullptr) {
      OwnedRef type_text = OwnedRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(type)));
      raise(PyExc_TypeError,
            fmt::format("object of type '{}' does not define a '__bool__' conversion", as_utf8(type_text.get())));
    }
    OwnedRef keep = OwnedRef::incref(obj);
    const int truth = to_bool_slot(obj);
    if (truth < 0) throw PyErrAlreadySet{};
    return truth != 0;
  }
  raise_cast_error(obj, "bool");
}

std::optional<bool> optional_bool_arg(PyObject* obj) {
  if (obj == Py_None) return std::nullopt;
  return bool_arg(obj);
}

char32_t char_arg(PyObject* obj) {
  as_utf8(obj);  // a str; a lone surrogate is not a character (UnicodeEncodeError)
  if (PyUnicode_GET_LENGTH(obj) != 1) raise(PyExc_ValueError, "expected a string of length 1");
  return static_cast<char32_t>(PyUnicode_READ_CHAR(obj, 0));
}

namespace {

template <class T>
PyObject* repr_slot(PyObject* self) {
  return entry([&] { return to_py(ast::repr(value_of<T>(self))); });
}

// The slot table of a value record: constructor, release, repr, value equality,
// getters and docstring.
#define LUMRA_VALUE_SLOTS(T, new_fn, getset, doc)                            \
  {Py_tp_new, reinterpret_cast<void*>(new_fn)},                              \
      {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<T>)},            \
      {Py_tp_repr, reinterpret_cast<void*>(repr_slot<T>)},                   \
      {Py_tp_richcompare, reinterpret_cast<void*>(value_richcompare<T>)},    \
      {Py_tp_getset, getset}, {Py_tp_doc, const_cast<char*>(doc)}, {0, nullptr}

constexpr PyGetSetDef kGetSetEnd = {nullptr, nullptr, nullptr, nullptr, nullptr};

template <class T>
PyType_Spec value_spec(const char* name, PyType_Slot* slots) {
  return PyType_Spec{
      .name = name,
      .basicsize = basic_size_of<T>,
      .itemsize = 0,
      .flags = Py_TPFLAGS_DEFAULT,
      .slots = slots,
  };
}

// ---- Token ---------------------------------------------------------------

PyObject* token_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Token.__new__()", Param{"content"}, Param{"start_index"}, Param{"end_index"},
                             Param{"line_col"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::Token t;
    t.content = a.convert(0, to_string);
    t.start_index = a.convert(1, to_u64);
    t.end_index = a.convert(2, to_u64);
    const auto [line, column] = a.convert(3, to_u64_pair);
    t.line_col = ast::LineCol{line, column};
    return new_instance(cls, std::move(t));
  });
}

PyObject* token_line_col(PyObject* self, void*) {
  return getter<ast::Token>(self, [](const ast::Token& t) {
    return to_py(std::pair<std::uint64_t, std::uint64_t>(t.line_col.line, t.line_col.column));
  });
}

PyGetSetDef token_getset[] = {
    {"content", field_getter<&ast::Token::content>, nullptr, "String content of the token", nullptr},
    {"start_index", field_getter<&ast::Token::start_index>, nullptr, "Start index in the original input string",
     nullptr},
    {"end_index", field_getter<&ast::Token::end_index>, nullptr, "End index in the original input string", nullptr},
    {"line_col", token_line_col, nullptr, "Line and column number", nullptr},
    kGetSetEnd,
};

const char token_doc[] =
    "Token(content, start_index, end_index, line_col)\n--\n\n"
    "Represents a section in the template string.\n\n"
    "It may be anything from variable references, Python expressions, entire components\n"
    "or tags, plain text, or even comments.";

PyType_Slot token_slots[] = {LUMRA_VALUE_SLOTS(ast::Token, token_new, token_getset, token_doc)};
PyType_Spec token_spec = value_spec<ast::Token>("builtins.Token", token_slots);

// ---- Comment -------------------------------------------------------------

PyObject* comment_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Comment.__new__()", Param{"token"}, Param{"value"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::Comment c;
    c.token = a.convert(0, record_arg<ast::Token>);
    c.value = a.convert(1, record_arg<ast::Token>);
    return new_instance(cls, std::move(c));
  });
}

PyGetSetDef comment_getset[] = {
    {"token", field_getter<&ast::Comment::token>, nullptr,
     "Token containing the entire comment span including `{# #}` or `<!-- ... -->` delimiters", nullptr},
    {"value", field_getter<&ast::Comment::value>, nullptr, "Token for the comment text (without the delimiters)",
     nullptr},
    kGetSetEnd,
};

const char comment_doc[] =
    "Comment(token, value)\n--\n\n"
    "Represents a template comment like `{# ... #}` or `<!-- ... -->`\n\n"
    "- `{# ... #}` comments are NOT included in the output.\n"
    "- `<!-- ... -->` comments ARE included in the output, and treated as text.";

PyType_Slot comment_slots[] = {LUMRA_VALUE_SLOTS(ast::Comment, comment_new, comment_getset, comment_doc)};
PyType_Spec comment_spec = value_spec<ast::Comment>("builtins.Comment", comment_slots);

// ---- HtmlAttrKind ----------------------------------------------------------

PyObject* kind_int(PyObject* self) {
  return entry([&] { return to_py(static_cast<std::uint64_t>(value_of<ast::HtmlAttrKind>(self))); });
}

PyType_Slot kind_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::HtmlAttrKind>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ast::HtmlAttrKind>)},
    {Py_nb_int, reinterpret_cast<void*>(kind_int)},
    {Py_tp_doc, const_cast<char*>("The kind of HTML attribute, determining how it should be processed")},
    {0, nullptr},
};
PyType_Spec kind_spec = {
    .name = "builtins.HtmlAttrKind",
    .basicsize = basic_size_of<ast::HtmlAttrKind>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = kind_slots,
};

// ---- FillDataField / FillDataPattern --------------------------------------

PyObject* fill_data_field_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"FillDataField.__new__()", Param{"source"}, Param{"target"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::FillDataField f;
    f.source = a.convert(0, record_arg<ast::Token>);
    f.target = a.convert(1, record_arg<ast::Token>);
    return new_instance(cls, std::move(f));
  });
}

PyGetSetDef fill_data_field_getset[] = {
    {"source", field_getter<&ast::FillDataField::source>, nullptr, "Slot-data key read by this field.", nullptr},
    {"target", field_getter<&ast::FillDataField::target>, nullptr,
     "Template variable introduced for the field value.", nullptr},
    kGetSetEnd,
};

const char fill_data_field_doc[] =
    "FillDataField(source, target)\n--\n\n"
    "One source-to-target field in a `<c-fill data=\"{ ... }\">` binding.";

PyType_Slot fill_data_field_slots[] = {
    LUMRA_VALUE_SLOTS(ast::FillDataField, fill_data_field_new, fill_data_field_getset, fill_data_field_doc)};
PyType_Spec fill_data_field_spec = value_spec<ast::FillDataField>("builtins.FillDataField", fill_data_field_slots);

PyObject* fill_data_pattern_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"FillDataPattern.__new__()", Param{"token"}, Param{"whole"}, Param{"fields"},
                             Param{"rest"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::FillDataPattern p;
    p.token = a.convert(0, record_arg<ast::Token>);
    p.whole = a.convert(1, optional_record_arg<ast::Token>);
    p.fields = a.convert(2, records_arg<ast::FillDataField>);
    p.rest = a.convert(3, optional_record_arg<ast::Token>);
    return new_instance(cls, std::move(p));
  });
}

PyGetSetDef fill_data_pattern_getset[] = {
    {"token", field_getter<&ast::FillDataPattern::token>, nullptr,
     "Token containing the complete binding expression.", nullptr},
    {"whole", field_getter<&ast::FillDataPattern::whole>, nullptr,
     "Variable receiving the whole slot-data record, for `data=\"data\"`.", nullptr},
    {"fields", field_getter<&ast::FillDataPattern::fields>, nullptr,
     "Selected fields, empty for a whole-record binding.", nullptr},
    {"rest", field_getter<&ast::FillDataPattern::rest>, nullptr,
     "Variable receiving unselected fields after `**`, when present.", nullptr},
    kGetSetEnd,
};

const char fill_data_pattern_doc[] =
    "FillDataPattern(token, whole, fields, rest)\n--\n\n"
    "Parsed binding form for a `<c-fill>` `data` attribute.";

PyType_Slot fill_data_pattern_slots[] = {LUMRA_VALUE_SLOTS(ast::FillDataPattern, fill_data_pattern_new,
                                                           fill_data_pattern_getset, fill_data_pattern_doc)};
PyType_Spec fill_data_pattern_spec =
    value_spec<ast::FillDataPattern>("builtins.FillDataPattern", fill_data_pattern_slots);

// ---- HtmlAttr -------------------------------------------------------------

ast::HtmlAttrKind kind_arg(PyObject* obj) {
  if (!PyObject_TypeCheck(obj, html_attr_kind_type())) raise_cast_error(obj, "HtmlAttrKind");
  return value_of<ast::HtmlAttrKind>(obj);
}

PyObject* html_attr_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"HtmlAttr.__new__()",
                             Param{"token"},
                             Param{"key"},
                             Param{"value"},
                             Param{"inner_value"},
                             Param{"quote_char"},
                             Param{"kind"},
                             Param{"comments"},
                             Param{"used_variables"},
                             Param{"fill_data_pattern", Arg::Optional}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::HtmlAttr attr;
    attr.token = a.convert(0, record_arg<ast::Token>);
    attr.key = a.convert(1, record_arg<ast::Token>);
    attr.value = a.convert(2, optional_record_arg<ast::Token>);
    attr.inner_value = a.convert(3, optional_record_arg<ast::Token>);
    if (a[4] != Py_None) attr.quote_char = a.convert(4, char_arg);
    attr.kind = a.convert(5, kind_arg);
    attr.comments = a.convert(6, records_arg<ast::Comment>);
    attr.used_variables = a.convert(7, records_arg<ast::Token>);
    if (a.has(8)) attr.fill_data_pattern = a.convert(8, record_arg<ast::FillDataPattern>);
    return new_instance(cls, std::move(attr));
  });
}

PyObject* html_attr_quote_char(PyObject* self, void*) {
  return getter<ast::HtmlAttr>(self, [](const ast::HtmlAttr& attr) {
    if (!attr.quote_char) return none();
    return OwnedRef::steal(PyUnicode_FromOrdinal(static_cast<int>(*attr.quote_char)));
  });
}

PyGetSetDef html_attr_getset[] = {
    {"token", field_getter<&ast::HtmlAttr::token>, nullptr, "Token containing the entire attribute span", nullptr},
    {"key", field_getter<&ast::HtmlAttr::key>, nullptr, "The attribute key/name", nullptr},
    {"value", field_getter<&ast::HtmlAttr::value>, nullptr,
     "The attribute value with quotes (None for boolean attributes)", nullptr},
    {"inner_value", field_getter<&ast::HtmlAttr::inner_value>, nullptr,
     "The attribute value without quotes (None for boolean attributes)", nullptr},
    {"quote_char", html_attr_quote_char, nullptr,
     "Whether the value is quoted, e.g. `key=\"value\"` or `key='value'`", nullptr},
    {"comments", field_getter<&ast::HtmlAttr::comments>, nullptr, "All comments found in the attribute", nullptr},
    {"used_variables", field_getter<&ast::HtmlAttr::used_variables>, nullptr,
     "All variables used in the attribute", nullptr},
    {"fill_data_pattern", field_getter<&ast::HtmlAttr::fill_data_pattern>, nullptr,
     "Parsed binding for a direct `<c-fill data=\"...\">` attribute.", nullptr},
    kGetSetEnd,
};

const char html_attr_doc[] =
    "HtmlAttr(token, key, value, inner_value, quote_char, kind, comments, used_variables, "
    "fill_data_pattern=None)\n--\n\n"
    "Represents an HTML attribute\n\n"
    "Attributes can be key-value pairs (`key=\"value\"`, `key='value'`, `key=value`)\n"
    "or boolean attributes (`disabled`, without a value).";

PyType_Slot html_attr_slots[] = {LUMRA_VALUE_SLOTS(ast::HtmlAttr, html_attr_new, html_attr_getset, html_attr_doc)};
PyType_Spec html_attr_spec = value_spec<ast::HtmlAttr>("builtins.HtmlAttr", html_attr_slots);

// ---- HtmlStartTag / HtmlEndTag ----------------------------------------------

PyObject* html_start_tag_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"HtmlStartTag.__new__()", Param{"token"}, Param{"name"}, Param{"attrs"},
                             Param{"is_self_closing"}, Param{"comments"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::HtmlStartTag tag;
    tag.token = a.convert(0, record_arg<ast::Token>);
    tag.name = a.convert(1, record_arg<ast::Token>);
    tag.attrs = a.convert(2, records_arg<ast::HtmlAttr>);
    tag.is_self_closing = a.convert(3, bool_arg);
    tag.comments = a.convert(4, records_arg<ast::Comment>);
    return new_instance(cls, std::move(tag));
  });
}

PyGetSetDef html_start_tag_getset[] = {
    {"token", field_getter<&ast::HtmlStartTag::token>, nullptr,
     "Token containing the entire tag span including `<`, `>`, and `/` delimiters", nullptr},
    {"name", field_getter<&ast::HtmlStartTag::name>, nullptr, "The name of the tag", nullptr},
    {"attrs", field_getter<&ast::HtmlStartTag::attrs>, nullptr, "The attributes of the tag", nullptr},
    {"is_self_closing", field_getter<&ast::HtmlStartTag::is_self_closing>, nullptr,
     "Whether the tag is self-closing", nullptr},
    {"comments", field_getter<&ast::HtmlStartTag::comments>, nullptr, "All comments found in the tag", nullptr},
    kGetSetEnd,
};

const char html_start_tag_doc[] =
    "HtmlStartTag(token, name, attrs, is_self_closing, comments)\n--\n\n"
    "Represents an HTML tag (start tag, or self-closing tag)";

PyType_Slot html_start_tag_slots[] = {
    LUMRA_VALUE_SLOTS(ast::HtmlStartTag, html_start_tag_new, html_start_tag_getset, html_start_tag_doc)};
PyType_Spec html_start_tag_spec = value_spec<ast::HtmlStartTag>("builtins.HtmlStartTag", html_start_tag_slots);

PyObject* html_end_tag_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"HtmlEndTag.__new__()", Param{"token"}, Param{"name"}, Param{"comments"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::HtmlEndTag tag;
    tag.token = a.convert(0, record_arg<ast::Token>);
    tag.name = a.convert(1, record_arg<ast::Token>);
    tag.comments = a.convert(2, records_arg<ast::Comment>);
    return new_instance(cls, std::move(tag));
  });
}

PyGetSetDef html_end_tag_getset[] = {
    {"token", field_getter<&ast::HtmlEndTag::token>, nullptr,
     "Token containing the entire tag span including `<`, `>`, and `/` delimiters", nullptr},
    {"name", field_getter<&ast::HtmlEndTag::name>, nullptr, "The name of the tag", nullptr},
    {"comments", field_getter<&ast::HtmlEndTag::comments>, nullptr, "All comments found in the tag", nullptr},
    kGetSetEnd,
};

const char html_end_tag_doc[] = "HtmlEndTag(token, name, comments)\n--\n\nRepresents an HTML end tag";

PyType_Slot html_end_tag_slots[] = {
    LUMRA_VALUE_SLOTS(ast::HtmlEndTag, html_end_tag_new, html_end_tag_getset, html_end_tag_doc)};
PyType_Spec html_end_tag_spec = value_spec<ast::HtmlEndTag>("builtins.HtmlEndTag", html_end_tag_slots);

// ---- Expr / Text -----------------------------------------------------------

PyObject* expr_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Expr.__new__()", Param{"token"}, Param{"value"}, Param{"used_variables"},
                             Param{"comments"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::Expr e;
    e.token = a.convert(0, record_arg<ast::Token>);
    e.value = a.convert(1, record_arg<ast::Token>);
    e.used_variables = a.convert(2, records_arg<ast::Token>);
    e.comments = a.convert(3, records_arg<ast::Comment>);
    return new_instance(cls, std::move(e));
  });
}

PyGetSetDef expr_getset[] = {
    {"token", field_getter<&ast::Expr::token>, nullptr,
     "Token containing the entire expression span including `{{ }}` delimiters", nullptr},
    {"value", field_getter<&ast::Expr::value>, nullptr, "A single value inside the expression with optional filters",
     nullptr},
    {"used_variables", field_getter<&ast::Expr::used_variables>, nullptr,
     "Variables that are used from the outside context", nullptr},
    {"comments", field_getter<&ast::Expr::comments>, nullptr, "Comments found in the original source", nullptr},
    kGetSetEnd,
};

const char expr_doc[] =
    "Expr(token, value, used_variables, comments)\n--\n\nRepresents a template expression `{{ ... }}`";

PyType_Slot expr_slots[] = {LUMRA_VALUE_SLOTS(ast::Expr, expr_new, expr_getset, expr_doc)};
PyType_Spec expr_spec = value_spec<ast::Expr>("builtins.Expr", expr_slots);

PyObject* text_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Text.__new__()", Param{"token"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::Text t;
    t.token = a.convert(0, record_arg<ast::Token>);
    return new_instance(cls, std::move(t));
  });
}

PyGetSetDef text_getset[] = {
    {"token", field_getter<&ast::Text::token>, nullptr, "Token containing the text content and position information",
     nullptr},
    kGetSetEnd,
};

const char text_doc[] = "Text(token)\n--\n\nRepresents plain text in a template";

PyType_Slot text_slots[] = {LUMRA_VALUE_SLOTS(ast::Text, text_new, text_getset, text_doc)};
PyType_Spec text_spec = value_spec<ast::Text>("builtins.Text", text_slots);

#undef LUMRA_VALUE_SLOTS

}  // namespace

// ---- class objects ----------------------------------------------------------

PyTypeObject* token_type() { return lazy_class<token_spec>("Token"); }

PyTypeObject* comment_type() { return lazy_class<comment_spec>("Comment"); }

PyTypeObject* html_attr_kind_type() {
  static PyTypeObject* type = nullptr;
  return lazy_type(type, [] {
    PyTypeObject* created = create_class(&kind_spec, nullptr, "HtmlAttrKind");
    const std::pair<const char*, ast::HtmlAttrKind> members[] = {
        {"Static", ast::HtmlAttrKind::Static},
        {"Expression", ast::HtmlAttrKind::Expression},
        {"Template", ast::HtmlAttrKind::Template},
        {"Meta", ast::HtmlAttrKind::Meta},
    };
    for (const auto& [name, kind] : members) {
      ast::HtmlAttrKind value = kind;
      OwnedRef member = new_instance(created, std::move(value));
      set_class_attr(created, "HtmlAttrKind", name, member.get());
    }
    return created;
  });
}

PyTypeObject* fill_data_field_type() { return lazy_class<fill_data_field_spec>("FillDataField"); }

PyTypeObject* fill_data_pattern_type() { return lazy_class<fill_data_pattern_spec>("FillDataPattern"); }

PyTypeObject* html_attr_type() { return lazy_class<html_attr_spec>("HtmlAttr"); }

PyTypeObject* html_start_tag_type() { return lazy_class<html_start_tag_spec>("HtmlStartTag"); }

PyTypeObject* html_end_tag_type() { return lazy_class<html_end_tag_spec>("HtmlEndTag"); }

PyTypeObject* expr_type() { return lazy_class<expr_spec>("Expr"); }

PyTypeObject* text_type() { return lazy_class<text_spec>("Text"); }

}  // namespace lumra::py
