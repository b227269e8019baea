// TagRules: rules for a caller's own tags, passed to parse_template as
// user_rules. Identity equality and hash (the default ones); immutable.
#include "module/tag_rules_class.h"

#include "module/binder.h"
#include "module/classes_common.h"

namespace lumra::py {
namespace {

using template_ast::TagRules;

using SlotDataFields = decltype(TagRules::slot_data_fields);

// The dict's entries are snapshotted first: converting a value may run Python
// code that changes the dict, and the copy must stay consistent.
SlotDataFields to_slot_data_fields(PyObject* obj) {
  check_dict(obj);
  OwnedRef items = OwnedRef::steal(PyDict_Items(obj));
  SlotDataFields out;
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    std::string key = to_string(PyTuple_GET_ITEM(pair, 0));
    std::vector<std::string> fields = to_string_vector(PyTuple_GET_ITEM(pair, 1));
    out.insert_or_assign(std::move(key), std::move(fields));
  }
  return out;
}

PyObject* tag_rules_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
  static const Signature sig{"TagRules.__new__()",
                             Param{"allowed_attrs", Arg::Optional},
                             Param{"required_attrs", Arg::Defaulted},
                             Param{"allowed_slots", Arg::Optional},
                             Param{"required_slots", Arg::Defaulted},
                             Param{"slot_data_fields", Arg::Defaulted}};
  return entry([&] {
    auto a = sig.bind(args, kwargs);
    // Converting a sequence runs Python code; keep every argument alive meanwhile.
    HeldArgs keep(a);
    TagRules rules;
    if (a.has(0)) rules.allowed_attrs = a.convert(0, to_string_groups);
    if (a.has(1)) rules.required_attrs = a.convert(1, to_string_groups);
    if (a.has(2)) rules.allowed_slots = a.convert(2, to_string_vector);
    if (a.has(3)) rules.required_slots = a.convert(3, to_string_vector);
    if (a.has(4)) rules.slot_data_fields = a.convert(4, to_slot_data_fields);
    return new_instance(cls, std::move(rules));
  });
}

PyObject* tag_rules_repr(PyObject* self) {
  return entry([&] { return to_py(template_ast::repr(value_of<TagRules>(self))); });
}

const char tag_rules_doc[] =
    "TagRules(allowed_attrs=None, required_attrs=..., allowed_slots=None, required_slots=..., "
    "slot_data_fields=...)\n--\n\n"
    "Attribute validation rules for special tags\n\n"
    "Use it to define custom attribute validation rules for user-defined tags, and pass\n"
    "the rules to parse_template() as user_rules, keyed by tag name.\n\n"
    "Example:\n"
    "    >>> rules = TagRules(\n"
    "    ...     allowed_attrs=[[\"id\", \"c-id\"]],\n"
    "    ...     required_attrs=[[\"id\", \"c-id\"]],\n"
    "    ...     allowed_slots=[\"default\"],\n"
    "    ...     required_slots=[\"default\"],\n"
    "    ...     slot_data_fields={},\n"
    "    ... )\n"
    "    >>> parse_template('<my-tag id=\"test\"></my-tag>', user_rules={\"my-tag\": rules})\n";

PyGetSetDef tag_rules_getset[] = {
    {"allowed_attrs", field_getter<&TagRules::allowed_attrs>, nullptr,
     "Groups of attribute names the tag may carry, or None for any attribute.\n\n"
     "An empty list allows no attribute at all. The names of one group are mutually\n"
     "exclusive alternatives: [[\"c-name\", \"name\"], [\"data\"]] allows either \"c-name\" or\n"
     "\"name\" (not both), and \"data\" as well.",
     nullptr},
    {"required_attrs", field_getter<&TagRules::required_attrs>, nullptr,
     "Groups of attribute names of which at least one name per group must be present.\n\n"
     "For example [[\"id\", \"c-id\"]] requires \"id\" or \"c-id\". Empty: nothing is required.",
     nullptr},
    {"allowed_slots", field_getter<&TagRules::allowed_slots>, nullptr,
     "Slot names that <c-fill> tags of this tag may fill, or None for any name.\n\n"
     "An empty list allows no fills at all.",
     nullptr},
    {"required_slots", field_getter<&TagRules::required_slots>, nullptr,
     "Slots that must be present, either as an explicit <c-fill name=\"...\"> or, for\n"
     "\"default\", as body content.",
     nullptr},
    {"slot_data_fields", field_getter<&TagRules::slot_data_fields>, nullptr,
     "Statically known data fields per slot name, ordered by slot name.\n\n"
     "A slot missing from the mapping has an unknown data shape and is not checked; a slot\n"
     "present with an empty list has a known empty shape. The explicit fields of a direct\n"
     "<c-fill data=\"{ ... }\"> binding must belong to the list of the slot the fill targets.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot tag_rules_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tag_rules_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(value_dealloc<TagRules>)},
    {Py_tp_repr, reinterpret_cast<void*>(tag_rules_repr)},
    {Py_tp_getset, tag_rules_getset},
    {Py_tp_doc, const_cast<char*>(tag_rules_doc)},
    {0, nullptr},
};

PyType_Spec tag_rules_spec = {
    .name = "builtins.TagRules",
    .basicsize = basic_size_of<TagRules>,
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = tag_rules_slots,
};

}  // namespace

PyTypeObject* tag_rules_type() { return lazy_class<tag_rules_spec>("TagRules"); }

}  // namespace lumra::py
