"""Argument binding shared by every function and constructor."""

import pytest
from hypothesis import given, settings, strategies as st

from lumra_core import _rust

tp = _rust.template_parser
ht = _rust.html_transform

# (callable, display name, [(param, required, keyword_only)])
SIGNATURES = [
    (tp.parse_template, "parse_template()",
     [("input", True, False), ("lang", False, False), ("user_rules", False, False)]),
    (tp.compile_template, "compile_template()",
     [("template", True, False), ("lang", False, False)]),
    (_rust.safe_eval.safe_eval, "safe_eval()", [("source", True, False)]),
    (ht.transform_html, "transform_html()",
     [("html", True, False), ("root_attributes", True, False), ("all_attributes", True, False),
      ("check_end_names", False, True),
      ("track_added_attributes_for_tags_with_this_attribute", False, True)]),
    (ht.mark_html, "mark_html()",
     [("html", True, False), ("root_attributes", True, False), ("placeholder_attr", True, False)]),
    (tp.TagRules, "TagRules.__new__()",
     [("allowed_attrs", False, False), ("required_attrs", False, False),
      ("allowed_slots", False, False), ("required_slots", False, False),
      ("slot_data_fields", False, False)]),
]


def quoted_list(names):
    quoted = [f"'{n}'" for n in names]
    if len(quoted) == 1:
        return quoted[0]
    if len(quoted) == 2:
        return f"{quoted[0]} and {quoted[1]}"
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def expected_binding_error(display, params, nargs, kwnames):
    """The binder's message for this call shape, or None when it binds."""
    positional = [p for p in params if not p[2]]
    required = [p for p in positional if p[1]]
    if nargs > len(positional):
        verb = "was" if nargs == 1 else "were"
        if len(required) == len(positional):
            return f"{display} takes {len(positional)} positional arguments but {nargs} {verb} given"
        return (f"{display} takes from {len(required)} to {len(positional)} positional arguments "
                f"but {nargs} {verb} given")
    filled = {p[0] for p in positional[:nargs]}
    names = [p[0] for p in params]
    for kw in kwnames:
        if kw not in names:
            return f"{display} got an unexpected keyword argument '{kw}'"
        if kw in filled:
            return f"{display} got multiple values for argument '{kw}'"
        filled.add(kw)
    missing = [p[0] for p in positional if p[1] and p[0] not in filled]
    if missing:
        noun = "argument" if len(missing) == 1 else "arguments"
        return f"{display} missing {len(missing)} required positional {noun}: {quoted_list(missing)}"
    return None


class TestMessages:
    @pytest.mark.parametrize("call,message", [
        (lambda: tp.parse_template(),
         "parse_template() missing 1 required positional argument: 'input'"),
        (lambda: tp.parse_template("x", "python", None, 1),
         "parse_template() takes from 1 to 3 positional arguments but 4 were given"),
        (lambda: tp.parse_template(input="x", foo=1),
         "parse_template() got an unexpected keyword argument 'foo'"),
        (lambda: tp.parse_template("x", input="y"),
         "parse_template() got multiple values for argument 'input'"),
        (lambda: _rust.safe_eval.safe_eval("a", "b"),
         "safe_eval() takes 1 positional arguments but 2 were given"),
        (lambda: tp.compile_template(None, None, None),
         "compile_template() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: ht.mark_html(),
         "mark_html() missing 3 required positional arguments: 'html', 'root_attributes', and "
         "'placeholder_attr'"),
        (lambda: ht.mark_html("x"),
         "mark_html() missing 2 required positional arguments: 'root_attributes' and 'placeholder_attr'"),
        (lambda: ht.mark_html("a", [], "b", "c"),
         "mark_html() takes 3 positional arguments but 4 were given"),
        (lambda: ht.transform_html("a", [], [], False),
         "transform_html() takes 3 positional arguments but 4 were given"),
        (lambda: tp.TagRules(1, 2, 3, 4, 5, 6),
         "TagRules.__new__() takes from 0 to 5 positional arguments but 6 were given"),
        (lambda: tp.TagRules(foo=1),
         "TagRules.__new__() got an unexpected keyword argument 'foo'"),
        (lambda: tp.TagRules([], allowed_attrs=[]),
         "TagRules.__new__() got multiple values for argument 'allowed_attrs'"),
    ])
    def test_binding_errors(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert type(info.value) is TypeError
        assert str(info.value) == message

    def test_singular_was(self):
        # No function here takes zero positionals; model the rule instead.
        assert expected_binding_error("f()", [("a", False, True)], 1, []) == \
            "f() takes 0 positional arguments but 1 was given"

    def test_too_many_positional_reported_before_unknown_keyword(self):
        with pytest.raises(TypeError, match="takes from 1 to 3 positional"):
            tp.parse_template("a", None, None, None, bogus=1)

    def test_none_counts_as_absent_for_optional(self):
        # lang=None and user_rules=None bind and convert as absent.
        assert tp.parse_template("x", None, None) == tp.parse_template("x")

    def test_none_is_a_value_for_required(self):
        with pytest.raises(TypeError, match=r"^argument 'input': 'NoneType' object cannot be cast as 'str'$"):
            tp.parse_template(None)

    def test_keyword_only_none_counts_as_absent(self):
        html, captured = ht.transform_html("<p></p>", [], [], check_end_names=None,
                                           track_added_attributes_for_tags_with_this_attribute=None)
        assert isinstance(html, str) and captured == {}

    def test_keyword_names_not_interned(self):
        # Keyword names built at run time are not the interned parameter names.
        name = "".join(["sou", "rce"])
        with pytest.raises(TypeError, match=r"^argument 'source': 'int'"):
            _rust.safe_eval.safe_eval(**{name: 1})


class RaisingIter:
    """A sequence whose iteration raises the given exception."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise IndexError

    def __iter__(self):
        raise self.exc


class TypeErrorSubclass(TypeError):
    pass


class TestConversionErrors:
    def test_exact_type_error_gets_prefix_and_keeps_cause(self):
        root = KeyError("root")
        err = TypeError("boom")
        err.__cause__ = root
        with pytest.raises(TypeError) as info:
            tp.TagRules(required_slots=RaisingIter(err))
        assert type(info.value) is TypeError
        assert str(info.value) == "argument 'required_slots': boom"
        assert info.value.__cause__ is root
        assert info.value.__suppress_context__ is True

    def test_type_error_without_cause_has_none(self):
        with pytest.raises(TypeError) as info:
            tp.TagRules(required_slots=RaisingIter(TypeError("plain")))
        assert str(info.value) == "argument 'required_slots': plain"
        assert info.value.__cause__ is None
        # The cause is set even when absent, which hides any context, as "raise ... from None" does.
        assert info.value.__suppress_context__ is True

    @pytest.mark.parametrize("exc", [TypeErrorSubclass("sub"), ValueError("v"), OverflowError("o")])
    def test_other_errors_pass_unchanged(self, exc):
        with pytest.raises(type(exc)) as info:
            tp.TagRules(required_slots=RaisingIter(exc))
        assert info.value is exc

    @pytest.mark.parametrize("call,message", [
        (lambda: tp.parse_template(1), "argument 'input': 'int' object cannot be cast as 'str'"),
        (lambda: tp.parse_template("x", lang=1), "argument 'lang': 'int' object cannot be cast as 'str'"),
        (lambda: _rust.safe_eval.safe_eval(b"x"), "argument 'source': 'bytes' object cannot be cast as 'str'"),
        (lambda: ht.mark_html("x", "ab", "p"), "argument 'root_attributes': Can't extract `str` to `Vec`"),
        (lambda: ht.mark_html("x", 5, "p"), "argument 'root_attributes': 'int' object cannot be cast as 'Sequence'"),
        (lambda: ht.mark_html("x", [1], "p"), "argument 'root_attributes': 'int' object cannot be cast as 'str'"),
        (lambda: ht.mark_html("x", [], None), "argument 'placeholder_attr': 'NoneType' object cannot be cast as 'str'"),
        (lambda: ht.transform_html("x", [], [], check_end_names=1),
         "argument 'check_end_names': 'int' object cannot be cast as 'bool'"),
        (lambda: ht.transform_html("x", [], [], track_added_attributes_for_tags_with_this_attribute=1),
         "argument 'track_added_attributes_for_tags_with_this_attribute': 'int' object cannot be cast as 'str'"),
        (lambda: ht.transform_html("x", {}, []),
         "argument 'root_attributes': 'dict' object cannot be cast as 'Sequence'"),
    ])
    def test_wrong_type_messages(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_lone_surrogate_raises_unicode_error_unprefixed(self):
        with pytest.raises(UnicodeEncodeError):
            _rust.safe_eval.safe_eval("\ud800")

    def test_str_subclass_accepted(self):
        class S(str):
            pass
        result = ht.mark_html(S("<p></p>"), (S("a"),), S("data-x"))
        assert isinstance(result, tuple)

    def test_arguments_converted_in_order(self):
        # Both arguments are wrong: the first one is reported.
        with pytest.raises(TypeError, match="^argument 'html': "):
            ht.mark_html(1, 2, 3)


VALUES = st.one_of(
    st.none(), st.booleans(), st.integers(-3, 3), st.text(max_size=5),
    st.lists(st.text(max_size=3), max_size=3), st.dictionaries(st.text(max_size=3), st.integers(), max_size=2),
    st.floats(allow_nan=False), st.tuples(st.text(max_size=2)), st.binary(max_size=3),
)


@st.composite
def calls(draw):
    fn, display, params = draw(st.sampled_from(SIGNATURES))
    nargs = draw(st.integers(0, len(params) + 2))
    names = [p[0] for p in params]
    kw_pool = st.one_of(st.sampled_from(names), st.from_regex(r"[a-z_][a-z0-9_]{0,8}", fullmatch=True))
    kwnames = draw(st.lists(kw_pool, max_size=4, unique=True))
    args = [draw(VALUES) for _ in range(nargs)]
    kwargs = {k: draw(VALUES) for k in kwnames}
    return fn, display, params, args, kwargs


@settings(max_examples=400, deadline=None)
@given(calls())
def test_binder_property(call):
    fn, display, params, args, kwargs = call
    expected = expected_binding_error(display, params, len(args), list(kwargs))
    try:
        fn(*args, **kwargs)
    except TypeError as e:
        if expected is not None:
            assert type(e) is TypeError and str(e) == expected
        else:
            # A conversion error names one of the parameters.
            assert str(e).startswith("argument '"), str(e)
            assert str(e).split("'")[1] in [p[0] for p in params]
        return
    except (ValueError, SyntaxError, OverflowError, UnicodeError):
        assert expected is None
        return
    assert expected is None
