"""parse_template, compile_template and safe_eval: argument order, language
selection and error mapping."""

import pytest

from lumra_core import _rust

tp = _rust.template_parser
TagRules = tp.TagRules

UNKNOWN = "Unknown language: '{}'. Supported: python, js, php, go, rust"
KNOWN_LANGS = [None, "python", "js", "javascript", "php", "go", "rust"]
BAD_LANGS = ["Python", " python", "python ", "PYTHON", "ts", "", "java script", "py"]


def empty_template():
    return tp.Template([], [], [], [])


def outcome(call):
    try:
        return call()
    except BaseException as e:  # noqa: BLE001 - the test inspects it
        return e


class TestParseTemplateArguments:
    @pytest.mark.parametrize("kwargs,exc,message", [
        # user_rules is converted before lang is selected.
        ({"lang": "bad", "user_rules": []}, TypeError,
         "argument 'user_rules': 'list' object cannot be cast as 'dict'"),
        ({"lang": "bad", "user_rules": {1: TagRules()}}, TypeError,
         "argument 'user_rules': 'int' object cannot be cast as 'str'"),
        ({"lang": "bad", "user_rules": {"c-x": 1}}, TypeError,
         "argument 'user_rules': 'int' object cannot be cast as 'TagRules'"),
        ({"user_rules": {"c-x": TagRules, "c-y": TagRules()}}, TypeError,
         "argument 'user_rules': 'type' object cannot be cast as 'TagRules'"),
        # ... but lang's type is checked first of all but input.
        ({"lang": 1, "user_rules": []}, TypeError, "argument 'lang': 'int' object cannot be cast as 'str'"),
        ({"lang": "bad", "user_rules": {}}, ValueError, UNKNOWN.format("bad")),
        ({"lang": "bad", "user_rules": None}, ValueError, UNKNOWN.format("bad")),
    ])
    def test_order(self, kwargs, exc, message):
        with pytest.raises(exc) as info:
            tp.parse_template("x", **kwargs)
        assert type(info.value) is exc
        assert str(info.value) == message

    def test_input_checked_first(self):
        with pytest.raises(TypeError, match=r"^argument 'input': 'bytes' object cannot be cast as 'str'$"):
            tp.parse_template(b"x", lang=1, user_rules=[])

    @pytest.mark.parametrize("lang", BAD_LANGS)
    def test_unknown_language_exact_match_only(self, lang):
        with pytest.raises(ValueError) as info:
            tp.parse_template("x", lang=lang)
        assert str(info.value) == UNKNOWN.format(lang)

    @pytest.mark.parametrize("lang", KNOWN_LANGS)
    def test_known_languages_accepted(self, lang):
        result = outcome(lambda: tp.parse_template("x", lang=lang))
        assert not (isinstance(result, ValueError) and "Unknown language" in str(result))
        assert not isinstance(result, TypeError)

    def test_user_rules_dict_subclass_accepted(self):
        class D(dict):
            pass
        result = outcome(lambda: tp.parse_template("x", user_rules=D({"my-tag": TagRules()})))
        assert not isinstance(result, TypeError)

    def test_arguments_unchanged(self):
        rules = {"my-tag": TagRules(allowed_attrs=[["id"]])}
        before = repr(rules)
        outcome(lambda: tp.parse_template("<my-tag id='a'></my-tag>", user_rules=rules))
        assert repr(rules) == before


class TestCompileTemplateArguments:
    @pytest.mark.parametrize("template,lang,exc,message", [
        ({}, "bad", TypeError, "argument 'template': 'dict' object cannot be cast as 'Template'"),
        (None, None, TypeError, "argument 'template': 'NoneType' object cannot be cast as 'Template'"),
        ("<p></p>", None, TypeError, "argument 'template': 'str' object cannot be cast as 'Template'"),
        (TagRules(), 1, TypeError, "argument 'template': 'TagRules' object cannot be cast as 'Template'"),
        (empty_template(), 1, TypeError, "argument 'lang': 'int' object cannot be cast as 'str'"),
        (empty_template(), "bad", ValueError, UNKNOWN.format("bad")),
        (empty_template(), "Go", ValueError, UNKNOWN.format("Go")),
    ])
    def test_order(self, template, lang, exc, message):
        with pytest.raises(exc) as info:
            tp.compile_template(template, lang=lang)
        assert type(info.value) is exc
        assert str(info.value) == message

    def test_template_unchanged_by_compile(self):
        t = empty_template()
        before = repr(t)
        first = outcome(lambda: tp.compile_template(t))
        assert repr(t) == before
        second = outcome(lambda: tp.compile_template(t))
        assert type(first) is type(second)
        assert first == second if isinstance(first, str) else str(first) == str(second)

    @pytest.mark.parametrize("lang,name", [("go", "Go"), ("php", "PHP"), ("js", "JavaScript"),
                                           ("javascript", "JavaScript"), ("rust", "Rust")])
    def test_other_backends_cannot_generate(self, lang, name):
        with pytest.raises(ValueError) as info:
            tp.compile_template(empty_template(), lang=lang)
        assert str(info.value) == f"Compile error: {name} code generation is not yet implemented"


class TestSafeEval:
    def test_argument(self):
        with pytest.raises(TypeError, match=r"^argument 'source': 'NoneType' object cannot be cast as 'str'$"):
            _rust.safe_eval.safe_eval(None)

    def test_rewrites_through_sandbox_calls(self):
        assert _rust.safe_eval.safe_eval("my_var + 1") == "variable(context, source, (0, 6), 'my_var') + 1"

    def test_rewriter_error_is_syntax_error_as_it_stands(self):
        with pytest.raises(SyntaxError) as info:
            _rust.safe_eval.safe_eval("1 +")
        assert type(info.value) is SyntaxError
        # The rewriter's message is complete; the binding adds no prefix of its own.
        assert not str(info.value).startswith(("Parse error: Parse error", "Compile error"))
