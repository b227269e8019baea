// The sandbox printer must give, byte for byte, what printing the rewritten
// tree gives, and fail with the same messages. Checked on forms chosen for the
// printer's own decisions (argument order, tuples, specs, kept names, depth)
// and, when it has been extracted, on the standard-library corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pycodegen/generator.h"
#include "pyexpr/parser.h"
#include "safe_eval/compile_limits.h"
#include "safe_eval/sandbox_print.h"
#include "safe_eval/transform.h"
#include "support/records.h"

namespace lumra::safe_eval {
namespace {

// Printing the rewritten tree: the reference the printer is held to.
Result<std::string> through_tree(std::string_view source) {
    auto rewritten = rewrite_expression(source);
    if (!rewritten) return Result<std::string>::failure(std::move(rewritten).error());
    auto text = codegen::expression_to_source(rewritten.value());
    if (!text) return Result<std::string>::failure("too deep to print");
    // Text Python would not compile is refused either way.
    const SourceDepth depth = source_depth(*text);
    if (depth.open_brackets > kMaxOpenBrackets || depth.parser_levels > kMaxParserLevels ||
        inlined_comprehension_depth(rewritten.value()) > kMaxInlinedComprehensions) {
        return Result<std::string>::failure("Validation Error: Expression is too deeply nested");
    }
    return std::move(*text);
}

std::string shortened(std::string text) {
    if (text.size() > 300) text = text.substr(0, 300) + "...";
    return text;
}

// Empty when both agree; otherwise what differs.
std::string disagreement(std::string_view source) {
    const auto direct = sandbox_source(source);
    const auto reference = through_tree(source);
    if (direct.ok() != reference.ok()) {
        return "one failed: direct " + shortened(direct ? direct.value() : "error " + direct.error()) + " / tree " +
               shortened(reference ? reference.value() : "error " + reference.error());
    }
    if (!direct) return direct.error() == reference.error() ? "" : direct.error() + " / " + reference.error();
    return direct.value() == reference.value() ? "" : direct.value() + "\n  vs tree\n" + reference.value();
}

TEST(SandboxPrint, MatchesThePrintedRewrite) {
    const char* const cases[] = {
        // names, kept and replaced
        "x", "x + 1", "lambda x: x + y", "lambda x, *a, y=z, **k: (x, a, y, k, w)", "lambda: lambda x: x",
        "[x for x in x]", "[x for x in y if x for y in x]", "{k: v for k, v in items}", "{(a, b) for (a, b) in c}",
        "(x for x in range(3))", "[[x for x in y] for y in x]", "[(lambda y: x + y) for x in z]",
        // calls: keyword and positional order, unpacking, lone generators
        "f()", "f(a)", "f(a, b=1)", "f(a=1, *b)", "f(*a, **k)", "f(**k)", "f(x for x in y)", "f(a)(b)(c)",
        "f(a, key=lambda v: v[0])", "obj.method(1, *rest, flag=True, **options)",
        // attributes, subscripts, slices
        "a.b.c", "(1).real", "1.5.real", "a[b]", "a[1:2]", "a[::]", "a[1:2, ::3]", "a[b, c]", "a[(b, c)]",
        "a[*b]", "a[b:c, *d]", "x[y][z].w", "'abc'[0]",
        // assignment expressions
        "(y := f(x))", "[y := 1, y ** 2]", "(a := (b := c))", "f(x := 1)",
        // operators keep their parentheses around replaced operands
        "-x ** 2", "(a + b) * c", "not a or b and c", "a if b else c", "a < b <= c", "await_ + 1",
        "*a, b", "(*a, b)", "{**a, 'b': c}", "{*a, b}",
        // f-strings
        "f'{x}'", "f'{x!r}'", "f'{x!a:>10}'", "f'{x:{w}}'", "f'{x:{w}.{p}f}'", "f'{{}} {x}'", "f'a' 'b' f'{c}'",
        "f'{x=}'", "f'{x = !r:^{w}}'", "f'{f\"{y}\"}'", "f'{(lambda: 1)()}'", "f'{a, b}'", "f'{x:{{}}}'",
        "f'{x:{a}{b}}'", "f'{x:{y:{z}}}'", "f'{\"}\"}'", "f'\\N{BULLET} {x}'", "f''",
        // t-strings
        "t'{x}'", "t'a{x!r:>{w}}b'", "t'{x:{(y for y in z)}}'", "t'{x:{a}{b}}'", "t'{x:plain}'", "t'' t'{y}'",
        "t'{x=}'", "t'{t\"{y}\"}'",
        // string literals stay as written by the generator
        "'it''s'", "\"a\\nb\"", "r'\\d+'", "b'x'", "'café'", "'\\u00e9' + caf\u00e9",
        // errors: the same message either way
        "(", "x +", "lambda context: context", "[source for source in y]", "(x := 1 for x in y)",
        "[(x := 1) for x in y]", "lambda a: (a := 1)", "await x", "[x async for x in y]", "[1 for a.b in c]",
        "(a.b := 1)",
    };
    for (const char* source : cases) {
        EXPECT_EQ(disagreement(source), "") << "for " << source;
    }
}

TEST(SandboxPrint, DeepNestingFailsTheSameWay) {
    // Up to and past the parser's and the rewriter's limits.
    for (int depth : {50, 190, 210, 400, 1200}) {
        const auto n = static_cast<std::size_t>(depth);
        std::string chain = "a";
        for (int i = 0; i < depth; ++i) chain += ".b";
        std::string nested_f = "x";
        for (int i = 0; i < depth / 20; ++i) nested_f = "f'{" + nested_f + ":{w}}'";
        for (const std::string& source :
             {chain, std::string(n, '[') + "x" + std::string(n, ']'), std::string(n, '-') + "x", nested_f}) {
            EXPECT_EQ(disagreement(source), "") << "at depth " << depth << ": " << source.substr(0, 40);
        }
    }
}

TEST(SandboxPrint, MatchesThePrintedRewriteOnTheCorpus) {
    const auto data = test_support::read_file(test_support::expression_corpus_path());
    if (!data) GTEST_SKIP() << "no expression corpus at " << test_support::expression_corpus_path() << " (make test extracts it)";
    std::size_t seen = 0;
    std::size_t checked = 0;
    std::size_t failures = 0;
    for (const std::string_view source : test_support::nul_fields(*data)) {
        if (source.empty() || seen++ % test_support::kCorpusStride != 0) continue;
        ++checked;
        const std::string diff = disagreement(source);
        if (!diff.empty() && ++failures <= 5) ADD_FAILURE() << "for " << source << ":\n  " << diff;
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_GT(checked, 1000u);
}

}  // namespace
}  // namespace lumra::safe_eval

namespace lumra::safe_eval {
namespace {

TEST(SandboxPrint, CountsOpenBracketsOutsideStrings) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"", 0},
        {"x", 0},
        {"f(a, [b, {c}])", 3},
        {"f(a)(b)[c]", 1},
        {"'((('", 0},
        {"\"[[[\" + (x)", 1},
        {"'\\'((' + (x)", 1},
        {"r'\\'((' + (x)", 1},
        {"'''a ' (( '''", 0},
        {"\"\"\"a \"\" [[ \"\"\"(x)", 1},
        {"'' + (('x'))", 2},
        {"b'(' ((", 2},
        {"'unterminated ((", 0},
        {"))((", 2},
    };
    for (const auto& [source, expected] : cases) {
        EXPECT_EQ(max_open_brackets(source), expected) << source;
    }
}

// The weights add up along the nesting; items after a comma, comparisons,
// `and` and `or` each add theirs once, and what ends an operand drops it.
TEST(SandboxPrint, EstimatesParserLevels) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"x", 0},
        {"[x]", 29},
        {"[x, [x]]", 59},
        {"f(x)[0]", 29},
        {"f(x, [y])", 58},
        {"[x, f(y)]", 59},
        {"{'a(': [x, (1)]}", 88},
        {"-x + -[x]", 31},
        {"not not [x]", 33},
        {"a < b < [x]", 32},
        {"a or b and not c < [x]", 38},
        {"a and b or [x]", 31},
        {"a if b else c if d else [x]", 33},
        {"[a if b else c, [x]]", 59},
        {"lambda a, b=[x]: [x]", 37},
        {"lambda: lambda: [x]", 33},
        {"[x for x in [y] if [z]]", 58},
        {"x[-a:[b]]", 58},
        {"-1e+5 ** [x]", 33},
    };
    for (const auto& [source, expected] : cases) {
        EXPECT_EQ(source_depth(source).parser_levels, expected) << source;
    }
}

// List, set and dict comprehensions nest in one scope, not through a lambda's
// body nor through the first iterable; a generator's body counts from one
// (its handler's block).
TEST(SandboxPrint, CountsInlinedComprehensions) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"x", 0},
        {"[[x for x in y] for y in z]", 2},
        {"{k: {v for v in k} for k in [a for a in b]}", 2},
        {"[x for x in y if [z for z in x]]", 2},
        {"[x for x in y for w in [z for z in x]]", 2},
        {"[x for x in [y for y in z]]", 1},
        {"[(x for x in [y for y in z]) for z in w]", 2},
        {"[(x for x in y if [z for z in x]) for y in w]", 2},
        {"(x for x in y)", 0},
        {"(x for x in [y for y in z])", 1},
        {"([x for x in y] for y in z)", 2},
        {"f(x for x in y for w in [z for z in x])", 2},
        {"((y for y in [x for x in z]) for z in w)", 2},
        {"(((y for y in [x for x in z]) for z in w) for w in v)", 2},
        {"((lambda: [x for x in y]) for y in w)", 1},
        {"[(lambda: [x for x in y]) for y in w]", 1},
        {"[(lambda a=[x for x in y]: a) for y in w]", 2},
    };
    for (const auto& [source, expected] : cases) {
        const auto parsed = pyexpr::parse_python_expression_full(source);
        ASSERT_TRUE(parsed.ok()) << source;
        EXPECT_EQ(inlined_comprehension_depth(parsed.expr), expected) << source;
    }
}

}  // namespace
}  // namespace lumra::safe_eval
