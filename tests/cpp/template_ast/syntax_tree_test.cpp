#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "template/ast/ast.h"
#include "template/ast/debug.h"

namespace lumra::template_ast {
namespace {

Token tok(std::string content, std::uint64_t start, std::uint64_t end, std::uint64_t line,
          std::uint64_t col) {
  return Token{std::move(content), start, end, LineCol{line, col}};
}

HtmlStartTag start_tag(const std::string& name) {
  return HtmlStartTag{tok("<" + name + ">", 0, name.size() + 2, 1, 1), tok(name, 1, 1 + name.size(), 1, 2),
                      {}, false, {}};
}

HtmlEndTag end_tag(const std::string& name) {
  return HtmlEndTag{tok("</" + name + ">", 0, name.size() + 3, 1, 1), tok(name, 2, 2 + name.size(), 1, 3),
                    {}};
}

Node with_body(const std::string& name, Template body) {
  Node::WithBody n;
  n.start_tag = start_tag(name);
  n.end_tag = end_tag(name);
  n.body = Body(std::move(body));
  return Node(std::move(n));
}

Template one(TemplateElement e) {
  Template t;
  t.elements.push_back(std::move(e));
  return t;
}

// A chain of `depth` nested <div> elements.
Template deep_tree(std::size_t depth) {
  Template t = one(Text{tok("leaf", 0, 4, 1, 1)});
  for (std::size_t i = 0; i < depth; ++i) t = one(with_body("div", std::move(t)));
  return t;
}

// --- escaping ---------------------------------------------------------------

struct EscapeCase {
  const char* input;
  const char* expected;
};

TEST(DebugForm, StringEscapes) {
  const EscapeCase cases[] = {
      {"", R"("")"},
      {"plain text", R"("plain text")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"it's", R"("it's")"},
      {"back\\slash", R"("back\\slash")"},
      {"a\tb\rc\nd", R"("a\tb\rc\nd")"},
      {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},                // é prints as itself
      {"e\xcc\x81", R"("e\u{301}")"},                     // combining acute accent
      {"\xc2\xa0", R"("\u{a0}")"},                        // no-break space (separator)
      {"\xe2\x80\xa8", R"("\u{2028}")"},                  // line separator
      {"\xc2\xad", R"("\u{ad}")"},                        // soft hyphen (format)
      {"\xe2\x80\x8d", R"("\u{200d}")"},                  // zero-width joiner
      {"\xee\x80\x80", R"("\u{e000}")"},                  // private use
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},       // emoji prints as itself
      {"\xcd\xb8", R"("\u{378}")"},                       // unassigned
      {"\xe4\xb8\xad", "\"\xe4\xb8\xad\""},               // CJK prints as itself
      {"\xff", "\"\xef\xbf\xbd\""},                       // malformed byte
  };
  for (const auto& c : cases) {
    std::string out;
    append_debug_str(out, c.input);
    EXPECT_EQ(out, c.expected) << "input: " << c.input;
  }
  std::string nul;
  append_debug_str(nul, std::string_view("a\0b", 3));
  EXPECT_EQ(nul, R"("a\0b")");
}

TEST(DebugForm, CharEscapes) {
  const std::pair<char32_t, const char*> cases[] = {
      {U'"', R"('"')"},      {U'\'', R"('\'')"},      {U'a', "'a'"},
      {U'\\', R"('\\')"},    {U'\n', R"('\n')"},      {U'\0', R"('\0')"},
      {0x301, R"('\u{301}')"}, {0x85, R"('\u{85}')"}, {0xE9, "'\xc3\xa9'"},
  };
  for (const auto& [c, expected] : cases) {
    std::string out;
    append_debug_char(out, c);
    EXPECT_EQ(out, expected) << "code point " << static_cast<std::uint32_t>(c);
  }
}

// --- reprs ------------------------------------------------------------------

TEST(Repr, LeafRecords) {
  const Token k = tok("a", 1, 2, 1, 2);
  const Token x = tok("x", 3, 4, 1, 4);
  const std::pair<std::string, std::string> cases[] = {
      {repr(tok("it's", 4, 8, 1, 5)), "Token(content='it's', start_index=4, end_index=8, line_col=(1, 5))"},
      {repr(tok("a\nb", 0, 3, 1, 1)), "Token(content='a\nb', start_index=0, end_index=3, line_col=(1, 1))"},
      {repr(Comment{tok("{# hi #}", 0, 8, 1, 1), tok(" hi ", 2, 6, 1, 3)}),
       "Comment(token=Token { content: \"{# hi #}\", start_index: 0, end_index: 8, line_col: (1, 1) }, "
       "value=Token { content: \" hi \", start_index: 2, end_index: 6, line_col: (1, 3) })"},
      {repr(FillDataPattern{tok("{ a }", 0, 5, 1, 1), std::nullopt, {FillDataField{k, k}}, k}),
       "FillDataPattern(token=Token { content: \"{ a }\", start_index: 0, end_index: 5, line_col: (1, 1) }, "
       "whole=None, fields=[FillDataField { source: Token { content: \"a\", start_index: 1, end_index: 2, "
       "line_col: (1, 2) }, target: Token { content: \"a\", start_index: 1, end_index: 2, line_col: (1, 2) } }], "
       "rest=Some(Token { content: \"a\", start_index: 1, end_index: 2, line_col: (1, 2) }))"},
      {repr(HtmlAttrKind::Template), "HtmlAttrKind::Template"},
      {repr(HtmlStartTag{tok("<br/>", 0, 5, 1, 1), tok("br", 1, 3, 1, 2), {}, true, {}}),
       "HtmlStartTag(token=Token { content: \"<br/>\", start_index: 0, end_index: 5, line_col: (1, 1) }, "
       "name=Token { content: \"br\", start_index: 1, end_index: 3, line_col: (1, 2) }, attrs=[], "
       "is_self_closing=true, comments=[])"},
      {repr(Text{tok("Hi\n", 0, 3, 1, 1)}),
       "Text(token=Token { content: \"Hi\\n\", start_index: 0, end_index: 3, line_col: (1, 1) })"},
      {repr(Expr{tok("{{ x }}", 0, 7, 1, 1), x, {x}, {}}),
       "Expr(token=Token { content: \"{{ x }}\", start_index: 0, end_index: 7, line_col: (1, 1) }, "
       "value=Token { content: \"x\", start_index: 3, end_index: 4, line_col: (1, 4) }, "
       "used_variables=[Token { content: \"x\", start_index: 3, end_index: 4, line_col: (1, 4) }], comments=[])"},
      {repr(StaticNamedSlot{tok("foo", 14, 17, 1, 15), std::nullopt}),
       "StaticNamedSlot(token=Token { content: \"foo\", start_index: 14, end_index: 17, line_col: (1, 15) }, "
       "required=None)"},
  };
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
}

TEST(Repr, AttributeQuoteCharAndKind) {
  const Token t = tok("a='b'", 5, 10, 1, 6);
  HtmlAttr attr{t, tok("a", 5, 6, 1, 6), std::nullopt, std::nullopt, U'\'', HtmlAttrKind::Meta, {}, {}, {}};
  const std::string r = repr(attr);
  EXPECT_NE(r.find(", quote_char=Some('\\''), kind=Meta, "), std::string::npos) << r;
  attr.quote_char = U'"';
  HtmlStartTag tag{t, t, {attr}, false, {}};
  EXPECT_NE(repr(tag).find("quote_char: Some('\"'), kind: Meta"), std::string::npos);
}

TEST(Repr, NodesElementsAndTemplates) {
  const Token hi = tok("Hi", 0, 2, 1, 1);
  const std::string hi_dbg = "Token { content: \"Hi\", start_index: 0, end_index: 2, line_col: (1, 1) }";
  EXPECT_EQ(repr(TemplateElement(Text{hi})), "TemplateElement::Text(Text { token: " + hi_dbg + " })");

  Template t = one(Text{hi});
  t.slots.mut().push_back(StaticNamedSlot{tok("foo", 14, 17, 1, 15), true});
  t.comments.mut().push_back(Comment{hi, hi});
  EXPECT_EQ(repr(t), "Template(elements=[Text(Text { token: " + hi_dbg +
                         " })], used_variables=[], slots=[StaticNamedSlot { token: Token { content: \"foo\", "
                         "start_index: 14, end_index: 17, line_col: (1, 15) }, required: Some(true) }])");
  EXPECT_EQ(repr(Template{}), "Template(elements=[], used_variables=[], slots=[])");

  // Inside a node, the body prints in full, comments included.
  Node n = with_body("p", t);
  n.contains_fills() = true;
  const std::string r = repr(n);
  EXPECT_EQ(r.rfind("Node::WithBody(start_tag=HtmlStartTag { token: ", 0), 0u) << r;
  EXPECT_NE(r.find(", body=Template { elements: [Text(Text { token: " + hi_dbg + " })], comments: [Comment { "),
            std::string::npos)
      << r;
  EXPECT_EQ(r.find("contains_fills"), std::string::npos);
  EXPECT_TRUE(r.ends_with(" }, used_variables=[], introduced_variables=[], comments=[])")) << r;

  const std::string e = repr(TemplateElement(n));
  EXPECT_EQ(e.rfind("TemplateElement::Node(WithBody { start_tag: HtmlStartTag { ", 0), 0u);
  EXPECT_TRUE(e.ends_with(", comments: [], contains_fills: true })")) << e;

  Node sc = Node(Node::SelfClosing{start_tag("img"), {}, {}, {}, false});
  EXPECT_EQ(debug_string(sc).rfind("SelfClosing { start_tag: HtmlStartTag {", 0), 0u);
  EXPECT_EQ(repr(one(sc)).rfind("Template(elements=[Node(SelfClosing { ", 0), 0u);
}

// --- equality and copies ----------------------------------------------------

TEST(Equality, TemplatesCompareEveryField) {
  const Template base = one(with_body("div", one(Text{tok("x", 5, 6, 1, 6)})));
  auto mutate = [&](auto change) {
    Template t = base;
    change(t);
    return t;
  };
  const std::vector<Template> different = {
      mutate([](Template& t) { t.comments.mut().push_back(Comment{}); }),
      mutate([](Template& t) { t.used_variables.mut().push_back(Token{}); }),
      mutate([](Template& t) { t.slots.mut().push_back(StaticNamedSlot{}); }),
      mutate([](Template& t) { t.elements[0].node()->contains_fills() = true; }),
      mutate([](Template& t) { t.elements[0].node()->with_body()->end_tag.name.content = "span"; }),
      mutate([](Template& t) { t.elements[0].node()->with_body()->body.mut().comments.mut().push_back(Comment{}); }),
      mutate([](Template& t) { t.elements[0].node()->with_body()->body.mut().elements[0] = Text{}; }),
      mutate([](Template& t) { t.elements[0].node()->drop_body(); }),
      mutate([](Template& t) { t.elements[0] = Expr{}; }),
      mutate([](Template& t) { t.elements.push_back(Text{}); }),
  };
  for (std::size_t i = 0; i < different.size(); ++i) {
    EXPECT_FALSE(different[i] == base) << "case " << i;
    EXPECT_FALSE(base == different[i]) << "case " << i;
  }
  // Equal values built separately (no shared bodies) compare equal.
  EXPECT_EQ(base, one(with_body("div", one(Text{tok("x", 5, 6, 1, 6)}))));
}

TEST(Equality, SlotsAndOptionals) {
  const Token t = tok("foo", 0, 3, 1, 1);
  EXPECT_NE((StaticNamedSlot{t, std::nullopt}), (StaticNamedSlot{t, false}));
  EXPECT_EQ((StaticNamedSlot{t, false}), (StaticNamedSlot{t, false}));
  FillDataPattern p{t, std::nullopt, {}, std::nullopt};
  FillDataPattern q = p;
  q.rest = t;
  EXPECT_NE(p, q);
  HtmlAttr a{t, t, {}, {}, {}, HtmlAttrKind::Static, {}, {}, {}};
  HtmlAttr b = a;
  b.kind = HtmlAttrKind::Expression;
  EXPECT_NE(a, b);
  // The data pattern is held apart: a copy's is its own, and compares by value.
  a.fill_data_pattern = p;
  HtmlAttr c = a;
  EXPECT_EQ(a, c);
  c.fill_data_pattern->rest = t;
  EXPECT_NE(a, c);
  EXPECT_FALSE(a.fill_data_pattern->rest.has_value());
  c.fill_data_pattern = std::nullopt;
  EXPECT_NE(a, c);
  a.fill_data_pattern.reset();
  EXPECT_EQ(a, c);
}

TEST(Copies, WritingACopyLeavesTheOriginal) {
  Template original = one(with_body("div", one(with_body("p", one(Text{tok("x", 0, 1, 1, 1)})))));
  const Template snapshot = one(with_body("div", one(with_body("p", one(Text{tok("x", 0, 1, 1, 1)})))));
  Template copy = original;
  Template& inner = copy.elements[0].node()->with_body()->body.mut();
  inner.elements[0].node()->with_body()->body.mut().elements.clear();
  inner.used_variables.mut().push_back(tok("v", 0, 1, 1, 1));
  EXPECT_EQ(original, snapshot);
  EXPECT_NE(copy, snapshot);
  EXPECT_TRUE(copy.elements[0].node()->with_body()->body->elements[0].node()->with_body()->body->elements.empty());
}

TEST(Copies, EmptyAndMovedFromBodiesReadAsEmptyTemplates) {
  Node::WithBody n;
  EXPECT_TRUE(n.body->elements.empty());
  n.body = Body(one(Text{}));
  Body moved = std::move(n.body);
  EXPECT_EQ(moved->elements.size(), 1u);
  EXPECT_EQ(n.body, Body());  // NOLINT(bugprone-use-after-move): defined as empty
  n.body.mut().elements.push_back(Text{});
  EXPECT_EQ(n.body->elements.size(), 1u);
}

TEST(Node, CommonFieldsAndDropBody) {
  Node n = with_body("c-if", one(Text{}));
  n.used_variables().mut().push_back(tok("a", 0, 1, 1, 1));
  n.introduced_variables().push_back(tok("b", 0, 1, 1, 1));
  n.contains_fills() = true;
  n.drop_body();
  ASSERT_FALSE(n.has_body());
  const auto* sc = n.self_closing();
  EXPECT_EQ(sc->start_tag.name.content, "c-if");
  EXPECT_EQ(sc->used_variables.size(), 1u);
  EXPECT_EQ(sc->introduced_variables.size(), 1u);
  EXPECT_TRUE(sc->contains_fills);
}

TokenStoreWriter::Mark at(std::uint32_t tokens, std::uint32_t left_out = 0) { return {tokens, left_out}; }

// Runs of one store: copies share it, writing one list leaves every other
// as it was, and a run stays valid as its store grows.
TEST(SharedTokens, RunsAndCopiesBehaveLikeLists) {
  const Token a = tok("a", 0, 1, 1, 1), b = tok("b", 2, 3, 1, 3), c = tok("c", 4, 5, 1, 5);
  TokenStoreWriter writer;
  writer.push_back(a);
  writer.push_back(b);
  const SharedTokens first = writer.run(at(0), at(1));
  const SharedTokens both = writer.run(at(0), at(2));
  for (int i = 0; i < 100; ++i) writer.push_back(c);  // moves the store's tokens
  EXPECT_EQ(first, (SharedTokens{a}));
  EXPECT_EQ(both, (SharedTokens{a, b}));
  EXPECT_TRUE(first.shares_store_with(both));
  EXPECT_TRUE(writer.run(at(1), at(1)).empty());
  EXPECT_EQ(writer.run(at(101), at(102)), (SharedTokens{c}));

  SharedTokens written = both;
  written.mut().push_back(c);
  EXPECT_EQ(written, (SharedTokens{a, b, c}));
  EXPECT_EQ(both, (SharedTokens{a, b}));
  EXPECT_FALSE(written.shares_store_with(both));
  // A list of its own is written in place, and reads what was written.
  const Token* before = written.span().data();
  written.mut()[0] = b;
  EXPECT_EQ(written.span().data(), before);
  EXPECT_EQ(written.span().front(), b);

  // The writer may go first: its runs keep the store.
  SharedTokens kept;
  {
    TokenStoreWriter scoped;
    scoped.append(std::vector<Token>{a, b, c});
    scoped.append_list(scoped.run(at(0), at(3)));  // a run of the store itself
    kept = scoped.run(at(2), at(6));
  }
  EXPECT_EQ(kept, (SharedTokens{c, a, b, c}));

  Node node = with_body("div", one(Text{}));
  node.used_variables() = both;
  node.drop_body();
  EXPECT_EQ(node.self_closing()->used_variables, both);
  EXPECT_EQ(debug_string(node.self_closing()->used_variables), debug_string(List<Token>{a, b}));
}

// Records leave names out of the runs written inside a list, nested as the
// nodes that write them; a list applies only the records written inside it.
TEST(SharedTokens, ListsLeaveOutTheNamesOfTheirRecords) {
  const Token x = tok("x", 0, 1, 1, 1), y = tok("y", 2, 3, 1, 3), z = tok("z", 4, 5, 1, 5);
  const Token fi = tok("\xef\xac\x81", 6, 9, 1, 7);  // "fi" as a ligature: NFKC "fi"
  TokenStoreWriter writer;
  writer.append(std::vector<Token>{x, y, fi, z});  // an inner body
  const SharedTokens inner_body = writer.run(at(0), at(4));
  // The inner node leaves out x and fi from its body, and z from its attribute.
  const auto inner_keys = writer.keep_keys(std::vector<Token>{x, tok("fi", 0, 2, 1, 1)});
  writer.leave_out(0, 4, inner_keys);
  writer.push_back(x);
  writer.leave_out(4, 5, writer.keep_keys(std::vector<Token>{x}));
  const SharedTokens inner = writer.run(at(0), writer.mark());
  // An outer node around it leaves out y, and a third one, with the same range, z.
  writer.push_back(z);
  writer.leave_out(0, 6, writer.keep_keys(std::vector<Token>{y}));
  const SharedTokens outer = writer.run(at(0), writer.mark());
  writer.leave_out(0, 6, writer.keep_keys(std::vector<Token>{z}));
  const SharedTokens third = writer.run(at(0), writer.mark());

  EXPECT_TRUE(inner_body.is_flat());
  EXPECT_EQ(inner_body, (SharedTokens{x, y, fi, z}));
  EXPECT_EQ(inner, (SharedTokens{y, z}));
  EXPECT_EQ(outer, (SharedTokens{z, z}));
  EXPECT_TRUE(third.empty());
  EXPECT_EQ(outer.size(), 2u);
  EXPECT_EQ(outer.stored_items(), 6u);  // each use stored once, whatever the levels
  EXPECT_TRUE(outer.flat().is_flat());
  EXPECT_THROW((void)outer.span(), std::logic_error);
  // Written, a list keeps what it listed.
  SharedTokens written = inner;
  written.mut().push_back(x);
  EXPECT_EQ(written, (SharedTokens{y, z, x}));
  EXPECT_EQ(inner, (SharedTokens{y, z}));

  // A record ends where it ends, even inside a wider one that starts with it.
  TokenStoreWriter nested;
  nested.append(std::vector<Token>{x, y, x, y});
  nested.leave_out(0, 2, nested.keep_keys(std::vector<Token>{x}));
  nested.leave_out(0, 4, nested.keep_keys(std::vector<Token>{y}));
  EXPECT_EQ(nested.run(at(0), nested.mark()), (SharedTokens{x}));
  // A skipped range hides its tokens and the records inside it from the lists around it.
  nested.append(std::vector<Token>{z, x});
  nested.leave_out(4, 6, nested.keep_keys(std::vector<Token>{z}));
  nested.skip(2, 6);
  nested.push_back(y);
  EXPECT_EQ(nested.run(at(0), nested.mark()), (SharedTokens{y}));
  EXPECT_EQ(nested.run(at(4, 2), at(6, 3)), (SharedTokens{x}));
  EXPECT_EQ(nested.run(at(6, 4), nested.mark()), (SharedTokens{y}));
}

// Past the few open names that are scanned, names are counted: forty nested
// records of one name each around the same uses.
TEST(SharedTokens, ManyOpenRecords) {
  TokenStoreWriter writer;
  List<Token> uses;
  for (int i = 0; i < 40; ++i) uses.push_back(tok("v" + std::to_string(i), 0, 1, 1, 1));
  writer.append(uses);
  List<Token> kept;
  for (int depth = 0; depth < 40; ++depth) {
    // Level d leaves out v(2d): the odd names and the ones above stay.
    writer.leave_out(0, 40, writer.keep_keys(std::vector<Token>{tok("v" + std::to_string(2 * depth), 0, 1, 1, 1)}));
  }
  for (int i = 0; i < 40; ++i) {
    if (i % 2 == 1) kept.push_back(uses[i]);
  }
  EXPECT_EQ(writer.run(at(0), writer.mark()), SharedTokens(kept));
}

// Long lists are read through an index made from the records' forest, the
// first read walked and the later ones indexed: random forests (records nested,
// side by side, sharing one range, leaving out names or everything) must list
// what the records say, for the whole store and for runs that start later.
TEST(SharedTokens, IndexedReadsFollowTheRecords) {
  struct Written {
    std::uint32_t from, to, first_record;
    std::vector<std::string> keys;  // empty: everything
  };
  std::mt19937 rng(2026);
  const std::string names[] = {"a", "b", "c", "d", "e"};
  for (int round = 0; round < 60; ++round) {
    TokenStoreWriter writer;
    std::vector<Token> items;
    std::vector<Written> records;
    std::vector<TokenStoreWriter::Mark> starts;
    const auto record = [&](std::uint32_t from, std::uint32_t to) {
      Written w{from, to, static_cast<std::uint32_t>(records.size()), {}};
      if (rng() % 4 == 0) {
        writer.skip(from, to);
      } else {
        std::vector<Token> keys;
        for (int k = 1 + static_cast<int>(rng() % 2); k > 0; --k) {
          w.keys.push_back(names[rng() % std::size(names)]);
          keys.push_back(tok(w.keys.back(), 0, 1, 1, 1));
        }
        writer.leave_out(from, to, writer.keep_keys(keys));
      }
      if (from < to) records.push_back(w);
    };
    const std::function<void(int)> node = [&](int depth) {
      const std::uint32_t from = writer.mark().items;
      for (int part = static_cast<int>(rng() % 6); part > 0; --part) {
        if (depth < 8 && rng() % 3 == 0) {
          node(depth + 1);
        } else {
          const auto at_ = static_cast<std::uint64_t>(items.size());
          items.push_back(tok(names[rng() % std::size(names)], at_, at_ + 1, 1, at_ + 1));
          writer.push_back(items.back());
        }
      }
      const std::uint32_t to = writer.mark().items;
      record(from, to);
      if (rng() % 5 == 0) record(from, to);
    };
    while (items.size() < 300) {
      starts.push_back(writer.mark());
      node(0);
    }
    for (const TokenStoreWriter::Mark start : starts) {
      List<Token> want;
      for (std::uint32_t i = start.items; i < items.size(); ++i) {
        bool out = false;
        for (const Written& w : records) {
          if (w.first_record < start.left_out || i < w.from || i >= w.to) continue;
          out = out || w.keys.empty() || std::find(w.keys.begin(), w.keys.end(), items[i].content) != w.keys.end();
        }
        if (!out) want.push_back(items[i]);
      }
      const SharedTokens run = writer.run(start, writer.mark());
      for (int read = 0; read < 2; ++read) ASSERT_EQ(run, SharedTokens(want)) << "round " << round;
    }
  }
}

// --- depth -----------------------------------------------------------------

TEST(Depth, DeepTreesDoNotRecurse) {
  constexpr std::size_t kDepth = 200000;
  Template a = deep_tree(kDepth);
  Template b = deep_tree(kDepth);
  EXPECT_EQ(a, b);
  Template c = a;  // shares bodies
  EXPECT_EQ(a, c);
  b.elements[0].node()->with_body()->body.mut().elements[0].node()->contains_fills() = true;
  EXPECT_NE(a, b);

  const std::string text = debug_string(a);
  EXPECT_EQ(text.rfind("Template { elements: [Node(WithBody { start_tag: ", 0), 0u);
  std::size_t bodies = 0;
  for (std::size_t pos = text.find("body: Template {"); pos != std::string::npos;
       pos = text.find("body: Template {", pos + 1)) {
    ++bodies;
  }
  EXPECT_EQ(bodies, kDepth);
  // The top-level repr differs only in its head and its tail (no comments).
  const std::string head_debug = "Template { elements: [";
  const std::string tail_debug = "], comments: [], used_variables: [], slots: [] }";
  const std::string head_repr = "Template(elements=[";
  const std::string tail_repr = "], used_variables=[], slots=[])";
  EXPECT_EQ(repr(a), head_repr + text.substr(head_debug.size(), text.size() - head_debug.size() - tail_debug.size()) +
                         tail_repr);
  // Destruction of a, b and c (shared and unshared parts) happens here.
}

// Every level holds its body through several nodes (copies share it), in one
// tree and across trees; whichever reference goes last must release the rest
// of the chain without recursing per level.
TEST(Depth, BodiesSharedWithinATreeAreReleasedIteratively) {
  constexpr std::size_t kDepth = 200000;
  for (std::size_t keep_level : {std::size_t{0}, kDepth / 2}) {
    Template t;
    Template kept;
    for (std::size_t i = 0; i < kDepth; ++i) {
      const Node n = with_body("div", std::move(t));
      t = Template{};
      t.elements.assign(3, TemplateElement(n));
      if (i == keep_level) kept = t;  // a second owner of part of the chain
    }
    EXPECT_EQ(t.elements[0], t.elements[2]);
    t = Template{};  // releases the levels above `kept` only
    EXPECT_EQ(kept.elements.size(), 3u);
  }
}

// A chain whose every level holds three copies of one node (one shared body):
// 3^depth paths, `depth` distinct bodies.
Template shared_chain(std::size_t depth, const std::string& leaf) {
  Template t = one(Text{tok(leaf, 0, leaf.size(), 1, 1)});
  for (std::size_t i = 0; i < depth; ++i) {
    const Node n = with_body("div", std::move(t));
    t = Template{};
    t.elements.assign(3, TemplateElement(n));
  }
  return t;
}

TEST(Depth, EqualityComparesEachSharedBodyOnce) {
  constexpr std::size_t kDepth = 100000;
  const Template a = shared_chain(kDepth, "leaf");
  const Template b = shared_chain(kDepth, "leaf");
  const Template c = shared_chain(kDepth, "other");
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == c);
  EXPECT_TRUE(shared_chain(3, "x") == shared_chain(3, "x"));
  EXPECT_FALSE(shared_chain(3, "x") == shared_chain(2, "x"));
}

}  // namespace
}  // namespace lumra::template_ast
