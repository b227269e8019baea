// Python classes of the recursive part of the syntax tree: Node with its
// variant classes Node_WithBody and Node_SelfClosing, TemplateElement with
// TemplateElement_Node / _Expr / _Text, StaticNamedSlot and Template.
//
// A node holds its body through a copy-on-write handle, so the copies that
// constructors and getters make are cheap at any depth, and a tree nested as
// deeply as Python code cares to build can be compared, printed and released
// (those walks are iterative in the native library).
#include <fmt/format.h>

#include <tuple>

#include "module/classes_common.h"
#include "template/ast/debug.h"

namespace lumra::py {

namespace ast = template_ast;

namespace {

constexpr PyGetSetDef kGetSetEnd = {nullptr, nullptr, nullptr, nullptr, nullptr};

template <class T>
PyObject* repr_slot(PyObject* self) {
  return entry([&] { return to_py(ast::repr(value_of<T>(self))); });
}

// ---- Node --------------------------------------------------------------------

PyObject* node_name(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(n.start_tag().name.content); });
}

PyGetSetDef node_getset[] = {
    {"name", node_name, nullptr, "Get the name of the node", nullptr},
    kGetSetEnd,
};

const char node_doc[] =
    "Represents a node in the template tree (AST version)\n\n"
    "A node can be:\n"
    "- An HTML element (`<div>...</div>`, `<img/>`)\n"
    "- A component (`<c-MyComp>...</c-MyComp>`, `<c-img/>`)";

PyType_Slot node_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::Node>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ast::Node>)},
    {Py_tp_getset, node_getset},
    {Py_tp_doc, const_cast<char*>(node_doc)},
    {0, nullptr},
};
PyType_Spec node_spec = {
    .name = "builtins.Node",
    .basicsize = basic_size_of<ast::Node>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = node_slots,
};

PyObject* node_with_body_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Node_WithBody.__new__()",
                             Param{"start_tag"},
                             Param{"end_tag"},
                             Param{"body"},
                             Param{"used_variables"},
                             Param{"introduced_variables"},
                             Param{"comments"},
                             Param{"contains_fills"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::Node::WithBody n;
    n.start_tag = a.convert(0, record_arg<ast::HtmlStartTag>);
    n.end_tag = a.convert(1, record_arg<ast::HtmlEndTag>);
    n.body = ast::Body(a.convert(2, record_arg<ast::Template>));
    n.used_variables = a.convert(3, records_arg<ast::Token>);
    n.introduced_variables = a.convert(4, records_arg<ast::Token>);
    n.comments = a.convert(5, records_arg<ast::Comment>);
    n.contains_fills = a.convert(6, bool_arg);
    return new_instance(cls, ast::Node(std::move(n)));
  });
}

PyObject* node_self_closing_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Node_SelfClosing.__new__()", Param{"start_tag"}, Param{"used_variables"},
                             Param{"introduced_variables"}, Param{"comments"}, Param{"contains_fills"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::Node::SelfClosing n;
    n.start_tag = a.convert(0, record_arg<ast::HtmlStartTag>);
    n.used_variables = a.convert(1, records_arg<ast::Token>);
    n.introduced_variables = a.convert(2, records_arg<ast::Token>);
    n.comments = a.convert(3, records_arg<ast::Comment>);
    n.contains_fills = a.convert(4, bool_arg);
    return new_instance(cls, ast::Node(std::move(n)));
  });
}

// Getters of the variant classes. The class normally matches the variant,
// but Python lets `__class__` be switched between the two variant classes
// (same layout), so the body-only fields check the value itself.
const ast::Node::WithBody& body_fields(const ast::Node& n, const char* attr) {
  if (const ast::Node::WithBody* wb = n.with_body()) return *wb;
  raise(PyExc_AttributeError, fmt::format("a self-closing node has no attribute '{}'", attr));
}

PyObject* node_start_tag(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(n.start_tag()); });
}
PyObject* node_end_tag(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(body_fields(n, "end_tag").end_tag); });
}
PyObject* node_body(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(*body_fields(n, "body").body); });
}
PyObject* node_used_variables(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(n.used_variables()); });
}
PyObject* node_introduced_variables(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(n.introduced_variables()); });
}
PyObject* node_comments(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(n.comments()); });
}
PyObject* node_contains_fills(PyObject* self, void*) {
  return getter<ast::Node>(self, [](const ast::Node& n) { return to_py(n.contains_fills()); });
}

PyGetSetDef node_with_body_getset[] = {
    {"start_tag", node_start_tag, nullptr, nullptr, nullptr},
    {"end_tag", node_end_tag, nullptr, nullptr, nullptr},
    {"body", node_body, nullptr, nullptr, nullptr},
    {"used_variables", node_used_variables, nullptr, nullptr, nullptr},
    {"introduced_variables", node_introduced_variables, nullptr, nullptr, nullptr},
    {"comments", node_comments, nullptr, nullptr, nullptr},
    {"contains_fills", node_contains_fills, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyGetSetDef node_self_closing_getset[] = {
    {"start_tag", node_start_tag, nullptr, nullptr, nullptr},
    {"used_variables", node_used_variables, nullptr, nullptr, nullptr},
    {"introduced_variables", node_introduced_variables, nullptr, nullptr, nullptr},
    {"comments", node_comments, nullptr, nullptr, nullptr},
    {"contains_fills", node_contains_fills, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot node_with_body_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(node_with_body_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::Node>)},
    {Py_tp_getset, node_with_body_getset},
    {Py_tp_doc,
     const_cast<char*>("Node_WithBody(start_tag, end_tag, body, used_variables, introduced_variables, comments, "
                       "contains_fills)\n--\n\n")},
    {0, nullptr},
};
PyType_Spec node_with_body_spec = {
    .name = "builtins.Node_WithBody",
    .basicsize = basic_size_of<ast::Node>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = node_with_body_slots,
};

PyType_Slot node_self_closing_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(node_self_closing_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::Node>)},
    {Py_tp_getset, node_self_closing_getset},
    {Py_tp_doc,
     const_cast<char*>(
         "Node_SelfClosing(start_tag, used_variables, introduced_variables, comments, contains_fills)\n--\n\n")},
    {0, nullptr},
};
PyType_Spec node_self_closing_spec = {
    .name = "builtins.Node_SelfClosing",
    .basicsize = basic_size_of<ast::Node>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = node_self_closing_slots,
};

struct NodeClasses {
  PyTypeObject* base = nullptr;
  PyTypeObject* with_body = nullptr;
  PyTypeObject* self_closing = nullptr;
};

const NodeClasses& node_classes() {
  static NodeClasses classes;
  lazy_type(classes.base, [] {
    PyTypeObject* base = create_class(&node_spec, nullptr, "Node");
    PyTypeObject* with_body = create_class(&node_with_body_spec, base, "Node_WithBody");
    PyTypeObject* self_closing = create_class(&node_self_closing_spec, base, "Node_SelfClosing");
    set_class_attr(base, "Node", "WithBody", reinterpret_cast<PyObject*>(with_body));
    set_class_attr(base, "Node", "SelfClosing", reinterpret_cast<PyObject*>(self_closing));
    set_class_attr(with_body, "Node_WithBody", "__match_args__",
                   match_args({"start_tag", "end_tag", "body", "used_variables", "introduced_variables", "comments",
                               "contains_fills"})
                       .get());
    set_class_attr(self_closing, "Node_SelfClosing", "__match_args__",
                   match_args({"start_tag", "used_variables", "introduced_variables", "comments", "contains_fills"})
                       .get());
    classes.with_body = with_body;
    classes.self_closing = self_closing;
    return base;
  });
  return classes;
}

// ---- TemplateElement -----------------------------------------------------------

// The wrapped value of an element as a new object of its own class.
OwnedRef element_payload(const ast::TemplateElement& e) {
  if (const ast::Node* n = e.node()) return to_py(*n);
  if (const ast::Expr* x = e.expr()) return to_py(*x);
  return to_py(*e.text());
}

template <class Payload>
PyObject* element_new(const Signature<1>& sig, PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    return new_instance(cls, ast::TemplateElement(a.convert(0, record_arg<Payload>)));
  });
}

PyObject* element_node_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"TemplateElement_Node.__new__()", Param{"_0"}};
  return element_new<ast::Node>(sig, cls, args, kwargs);
}
PyObject* element_expr_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"TemplateElement_Expr.__new__()", Param{"_0"}};
  return element_new<ast::Expr>(sig, cls, args, kwargs);
}
PyObject* element_text_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"TemplateElement_Text.__new__()", Param{"_0"}};
  return element_new<ast::Text>(sig, cls, args, kwargs);
}

PyObject* element_0(PyObject* self, void*) {
  return getter<ast::TemplateElement>(self, element_payload);
}

Py_ssize_t element_len(PyObject*) { return 1; }

PyObject* element_getitem(PyObject* self, PyObject* idx) {
  return entry([&] {
    std::uint64_t index = 0;
    try {
      index = to_u64(idx);
    } catch (const PyErrAlreadySet&) {
      prefix_argument_error("idx");
      throw;
    }
    if (index != 0) raise(PyExc_IndexError, "tuple index out of range");
    return element_payload(value_of<ast::TemplateElement>(self));
  });
}

// Item access through the sequence protocol as well, so that an element
// iterates and unpacks as the 1-tuple it stands for: `(payload,) = element`.
PyObject* element_sq_item(PyObject* self, Py_ssize_t i) {
  PyObject* index = PyLong_FromSsize_t(i);
  if (index == nullptr) return nullptr;
  PyObject* item = element_getitem(self, index);
  Py_DECREF(index);
  return item;
}

PyGetSetDef element_getset[] = {
    {"_0", element_0, nullptr, nullptr, nullptr},
    kGetSetEnd,
};

PyType_Slot element_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::TemplateElement>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ast::TemplateElement>)},
    {Py_tp_doc, const_cast<char*>("Represents a single element in a template")},
    {0, nullptr},
};
PyType_Spec element_spec = {
    .name = "builtins.TemplateElement",
    .basicsize = basic_size_of<ast::TemplateElement>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = element_slots,
};

#define LUMRA_ELEMENT_VARIANT(var, new_fn, qualname, doc)                                     \
  PyType_Slot var##_slots[] = {                                                               \
      {Py_tp_new, reinterpret_cast<void*>(new_fn)},                                           \
      {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::TemplateElement>)},          \
      {Py_tp_getset, element_getset},                                                         \
      {Py_mp_length, reinterpret_cast<void*>(element_len)},                                   \
      {Py_mp_subscript, reinterpret_cast<void*>(element_getitem)},                            \
      {Py_sq_item, reinterpret_cast<void*>(element_sq_item)},                                 \
      {Py_tp_doc, const_cast<char*>(doc)},                                                    \
      {0, nullptr},                                                                           \
  };                                                                                          \
  PyType_Spec var##_spec = {                                                                  \
      .name = qualname,                                                                       \
      .basicsize = basic_size_of<ast::TemplateElement>,                                       \
      .itemsize = 0,                                                                          \
      .flags = Py_TPFLAGS_DEFAULT,                                                            \
      .slots = var##_slots,                                                                   \
  };

LUMRA_ELEMENT_VARIANT(element_node, element_node_new, "builtins.TemplateElement_Node",
                      "TemplateElement_Node(_0)\n--\n\n")
LUMRA_ELEMENT_VARIANT(element_expr, element_expr_new, "builtins.TemplateElement_Expr",
                      "TemplateElement_Expr(_0)\n--\n\n")
LUMRA_ELEMENT_VARIANT(element_text, element_text_new, "builtins.TemplateElement_Text",
                      "TemplateElement_Text(_0)\n--\n\n")

#undef LUMRA_ELEMENT_VARIANT

struct ElementClasses {
  PyTypeObject* base = nullptr;
  PyTypeObject* node = nullptr;
  PyTypeObject* expr = nullptr;
  PyTypeObject* text = nullptr;
};

const ElementClasses& element_classes() {
  static ElementClasses classes;
  lazy_type(classes.base, [] {
    PyTypeObject* base = create_class(&element_spec, nullptr, "TemplateElement");
    const std::tuple<PyType_Spec*, const char*, const char*, PyTypeObject**> variants[] = {
        {&element_node_spec, "TemplateElement_Node", "Node", &classes.node},
        {&element_expr_spec, "TemplateElement_Expr", "Expr", &classes.expr},
        {&element_text_spec, "TemplateElement_Text", "Text", &classes.text},
    };
    for (const auto& [spec, class_name, attr, slot] : variants) {
      PyTypeObject* variant = create_class(spec, base, class_name);
      set_class_attr(base, "TemplateElement", attr, reinterpret_cast<PyObject*>(variant));
      set_class_attr(variant, class_name, "__match_args__", match_args({"_0"}).get());
      *slot = variant;
    }
    return base;
  });
  return classes;
}

// ---- StaticNamedSlot ---------------------------------------------------------

PyObject* slot_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"StaticNamedSlot.__new__()", Param{"token"}, Param{"required"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::StaticNamedSlot slot;
    slot.token = a.convert(0, record_arg<ast::Token>);
    slot.required = a.convert(1, optional_bool_arg);
    return new_instance(cls, std::move(slot));
  });
}

PyGetSetDef slot_getset[] = {
    {"token", field_getter<&ast::StaticNamedSlot::token>, nullptr,
     "Token containing the slot name (from the `name` attribute's inner value)", nullptr},
    {"required", field_getter<&ast::StaticNamedSlot::required>, nullptr,
     "Whether this slot is required\n\n"
     "- `None`: unknown, the tag has no explicit `required` attribute but has `c-bind` or\n"
     "  `c-required`, so it is decided at runtime\n"
     "- `Some(true)`: the tag has a `required` attribute\n"
     "- `Some(false)`: the tag has none of `required`, `c-bind` and `c-required`",
     nullptr},
    kGetSetEnd,
};

const char slot_doc[] =
    "StaticNamedSlot(token, required)\n--\n\n"
    "Represents a slot WITH KNOWN NAME, defined by a `<c-slot>` tag.\n\n"
    "At runtime, this is used to check that the slots defined in a template match the\n"
    "slots declared by the component.\n\n"
    "For example, given a component:\n\n"
    "```py\n"
    "class Table(Component):\n"
    "    class Slots:\n"
    "        foo: SlotInput\n"
    "        bar: SlotInput\n"
    "```\n\n"
    "and a template:\n\n"
    "```django\n"
    "<c-table>\n"
    "  <c-slot name=\"foo\">...</c-slot>\n"
    "  <c-slot name=\"fee\">...</c-slot>\n"
    "</c-table>\n"
    "```\n\n"
    "the check can report that the component declared `bar` but `bar` is missing, and\n"
    "that there is `fee` instead.";

PyType_Slot slot_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(slot_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::StaticNamedSlot>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ast::StaticNamedSlot>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(value_richcompare<ast::StaticNamedSlot>)},
    {Py_tp_getset, slot_getset},
    {Py_tp_doc, const_cast<char*>(slot_doc)},
    {0, nullptr},
};
PyType_Spec slot_spec = {
    .name = "builtins.StaticNamedSlot",
    .basicsize = basic_size_of<ast::StaticNamedSlot>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = slot_slots,
};

// ---- Template ------------------------------------------------------------------

PyObject* template_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"Template.__new__()", Param{"elements"}, Param{"comments"}, Param{"used_variables"},
                             Param{"slots"}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    HeldArgs keep(a);
    ast::Template t;
    t.elements = a.convert(0, records_arg<ast::TemplateElement>);
    t.comments = a.convert(1, records_arg<ast::Comment>);
    t.used_variables = a.convert(2, records_arg<ast::Token>);
    t.slots = a.convert(3, records_arg<ast::StaticNamedSlot>);
    return new_instance(cls, std::move(t));
  });
}

PyGetSetDef template_getset[] = {
    {"elements", field_getter<&ast::Template::elements>, nullptr, "The elements in the template", nullptr},
    {"comments", field_getter<&ast::Template::comments>, nullptr,
     "All comments found in the template (at any nesting level)\n"
     "This is populated only if comment collection is enabled during parsing",
     nullptr},
    {"used_variables", field_getter<&ast::Template::used_variables>, nullptr,
     "Context variables that this Template needs (used variables from all tags and expressions)", nullptr},
    {"slots", field_getter<&ast::Template::slots>, nullptr,
     "All slots defined by `<c-slot>` tags (with static names) found in the template (at any nesting level)",
     nullptr},
    kGetSetEnd,
};

PyType_Slot template_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(template_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<ast::Template>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ast::Template>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(value_richcompare<ast::Template>)},
    {Py_tp_getset, template_getset},
    {Py_tp_doc,
     const_cast<char*>("Template(elements, comments, used_variables, slots)\n--\n\n"
                       "Represents a complete parsed template")},
    {0, nullptr},
};
PyType_Spec template_spec = {
    .name = "builtins.Template",
    .basicsize = basic_size_of<ast::Template>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = template_slots,
};

}  // namespace

// ---- class objects ----------------------------------------------------------------

PyTypeObject* node_type() { return node_classes().base; }

PyTypeObject* node_variant_type(const ast::Node& node) {
  const NodeClasses& classes = node_classes();
  return node.has_body() ? classes.with_body : classes.self_closing;
}

PyTypeObject* template_element_type() { return element_classes().base; }

PyTypeObject* template_element_variant_type(const ast::TemplateElement& element) {
  const ElementClasses& classes = element_classes();
  if (element.node()) return classes.node;
  if (element.expr()) return classes.expr;
  return classes.text;
}

PyTypeObject* static_named_slot_type() { return lazy_class<slot_spec>("StaticNamedSlot"); }

PyTypeObject* template_type() { return lazy_class<template_spec>("Template"); }

}  // namespace lumra::py
