"""TagRules: construction, conversions, getters, repr and identity."""

import pytest

from lumra_core import _rust

TagRules = _rust.template_parser.TagRules


class TestConstruction:
    def test_defaults(self):
        r = TagRules()
        assert r.allowed_attrs is None
        assert r.required_attrs == []
        assert r.allowed_slots is None
        assert r.required_slots == []
        assert r.slot_data_fields == {}

    @pytest.mark.parametrize("kwargs,field,expected", [
        ({"allowed_attrs": [("id", "c-id")]}, "allowed_attrs", [["id", "c-id"]]),
        ({"allowed_attrs": []}, "allowed_attrs", []),
        ({"allowed_attrs": None}, "allowed_attrs", None),
        ({"required_attrs": (["a"], ("b", "c"))}, "required_attrs", [["a"], ["b", "c"]]),
        ({"allowed_slots": ("x", "y")}, "allowed_slots", ["x", "y"]),
        ({"allowed_slots": []}, "allowed_slots", []),
        ({"required_slots": ["default"]}, "required_slots", ["default"]),
        ({"slot_data_fields": {"z": [], "a": ("x", "y")}}, "slot_data_fields", {"a": ["x", "y"], "z": []}),
        ({"allowed_attrs": [[]]}, "allowed_attrs", [[]]),
    ])
    def test_field_conversion(self, kwargs, field, expected):
        assert getattr(TagRules(**kwargs), field) == expected

    def test_positional_arguments_in_field_order(self):
        r = TagRules([["a"]], [["b"]], ["s"], ["t"], {"s": ["f"]})
        assert (r.allowed_attrs, r.required_attrs, r.allowed_slots, r.required_slots, r.slot_data_fields) == \
            ([["a"]], [["b"]], ["s"], ["t"], {"s": ["f"]})

    def test_slot_data_fields_keys_sorted_bytewise(self):
        r = TagRules(slot_data_fields={"z": [], "a": ["x"], "B": [], "\u00e9": [], "aa": []})
        assert list(r.slot_data_fields) == ["B", "a", "aa", "z", "\u00e9"]

    @pytest.mark.parametrize("kwargs,message", [
        ({"allowed_attrs": ["id"]}, "argument 'allowed_attrs': Can't extract `str` to `Vec`"),
        ({"allowed_attrs": "id"}, "argument 'allowed_attrs': Can't extract `str` to `Vec`"),
        ({"required_slots": "default"}, "argument 'required_slots': Can't extract `str` to `Vec`"),
        ({"required_attrs": None}, "argument 'required_attrs': 'NoneType' object cannot be cast as 'Sequence'"),
        ({"required_slots": None}, "argument 'required_slots': 'NoneType' object cannot be cast as 'Sequence'"),
        ({"slot_data_fields": None}, "argument 'slot_data_fields': 'NoneType' object cannot be cast as 'dict'"),
        ({"slot_data_fields": [("a", [])]}, "argument 'slot_data_fields': 'list' object cannot be cast as 'dict'"),
        ({"slot_data_fields": {1: []}}, "argument 'slot_data_fields': 'int' object cannot be cast as 'str'"),
        ({"slot_data_fields": {"a": "x"}}, "argument 'slot_data_fields': Can't extract `str` to `Vec`"),
        ({"allowed_slots": {"a": 1}}, "argument 'allowed_slots': 'dict' object cannot be cast as 'Sequence'"),
        ({"allowed_slots": {"a"}}, "argument 'allowed_slots': 'set' object cannot be cast as 'Sequence'"),
        ({"allowed_slots": [1]}, "argument 'allowed_slots': 'int' object cannot be cast as 'str'"),
        ({"allowed_attrs": [[None]]}, "argument 'allowed_attrs': 'NoneType' object cannot be cast as 'str'"),
        # Fields are converted in order: the first bad one is reported.
        ({"slot_data_fields": None, "allowed_attrs": ["x"]}, "argument 'allowed_attrs': Can't extract `str` to `Vec`"),
    ])
    def test_conversion_errors(self, kwargs, message):
        with pytest.raises(TypeError) as info:
            TagRules(**kwargs)
        assert str(info.value) == message

    def test_sequence_with_failing_len_is_still_read(self):
        class NoLen:
            def __getitem__(self, i):
                if i < 2:
                    return "ab"[i]
                raise IndexError

            def __len__(self):
                raise RuntimeError("no length")
        assert TagRules(allowed_slots=NoLen()).allowed_slots == ["a", "b"]

    @pytest.mark.parametrize("claimed", [0, 1, 10**9, 10**12, 2**62, 2**63 - 1])
    def test_length_only_sizes_the_list(self, claimed):
        # __len__ may claim any number of items; iteration decides what is read.
        class Claims:
            def __len__(self):
                return claimed

            def __getitem__(self, i):
                if i < 2:
                    return "ab"[i]
                raise IndexError
        assert TagRules(allowed_slots=Claims()).allowed_slots == ["a", "b"]
        assert TagRules(required_attrs=[Claims()]).required_attrs == [["a", "b"]]

    def test_dict_subclass_accepted(self):
        class D(dict):
            pass
        assert TagRules(slot_data_fields=D(s=["f"])).slot_data_fields == {"s": ["f"]}

    def test_dict_changed_while_read_gives_consistent_copy(self):
        fields = {}

        class Mutating:
            """A sequence that changes the dict that holds it while being read."""

            def __len__(self):
                fields.clear()
                fields.update({f"k{i}": [] for i in range(50)})
                return 1

            def __getitem__(self, i):
                if i == 0:
                    return "x"
                raise IndexError

        fields.update({"a": Mutating(), "b": ["y"]})
        r = TagRules(slot_data_fields=fields)
        assert r.slot_data_fields == {"a": ["x"], "b": ["y"]}


class TestReadOnlyAndCopies:
    def test_getter_returns_fresh_copy(self):
        r = TagRules(allowed_attrs=[["id"]], slot_data_fields={"s": ["f"]})
        got = r.allowed_attrs
        got[0].append("x")
        got.append(["y"])
        r.slot_data_fields["s"].append("g")
        assert r.allowed_attrs == [["id"]]
        assert r.slot_data_fields == {"s": ["f"]}
        assert r.allowed_attrs is not r.allowed_attrs

    def test_input_changes_after_construction_do_not_leak(self):
        groups = [["id"]]
        r = TagRules(allowed_attrs=groups)
        groups[0].append("c-id")
        assert r.allowed_attrs == [["id"]]

    def test_attributes_read_only(self):
        r = TagRules()
        with pytest.raises(AttributeError):
            r.allowed_attrs = []
        with pytest.raises(AttributeError):
            r.other = 1

    def test_identity_equality_and_hash(self):
        a, b = TagRules(), TagRules()
        assert a == a and a != b and not (a == b)
        assert hash(a) == hash(a)
        assert len({a, b}) == 2

    def test_not_subclassable(self):
        with pytest.raises(TypeError):
            type("X", (TagRules,), {})


class TestRepr:
    @pytest.mark.parametrize("kwargs,text", [
        ({}, "TagRules(allowed_attrs=None, required_attrs=[], allowed_slots=None, required_slots=[], "
             "slot_data_fields={})"),
        ({"allowed_attrs": []}, "TagRules(allowed_attrs=Some([]), required_attrs=[], allowed_slots=None, "
                                "required_slots=[], slot_data_fields={})"),
        ({"allowed_attrs": [["name", "c-name"], ["data"], ["fallback"]],
          "required_attrs": [["name", "c-name", "c-bind"]]},
         'TagRules(allowed_attrs=Some([["name", "c-name"], ["data"], ["fallback"]]), '
         'required_attrs=[["name", "c-name", "c-bind"]], allowed_slots=None, required_slots=[], '
         'slot_data_fields={})'),
        ({"allowed_slots": ["default"], "slot_data_fields": {"z": [], "a": ["x"]}},
         'TagRules(allowed_attrs=None, required_attrs=[], allowed_slots=Some(["default"]), '
         'required_slots=[], slot_data_fields={"a": ["x"], "z": []})'),
        ({"required_slots": ['q"\\\t\n\r\x00\x01\u0301\'']},
         'TagRules(allowed_attrs=None, required_attrs=[], allowed_slots=None, '
         'required_slots=["q\\"\\\\\\t\\n\\r\\0\\u{1}\\u{301}\'"], slot_data_fields={})'),
    ])
    def test_repr(self, kwargs, text):
        assert repr(TagRules(**kwargs)) == text


class TestClass:
    def test_signature_and_doc(self):
        assert TagRules.__text_signature__ == (
            "(allowed_attrs=None, required_attrs=..., allowed_slots=None, required_slots=..., "
            "slot_data_fields=...)")
        assert TagRules.__doc__.splitlines()[0] == "Attribute validation rules for special tags"
        assert "my-tag" in TagRules.__doc__

    @pytest.mark.parametrize("name", ["allowed_attrs", "required_attrs", "allowed_slots",
                                      "required_slots", "slot_data_fields"])
    def test_attribute_docstrings(self, name):
        assert getattr(TagRules, name).__doc__
