// The layout of the lists each level holds of its descendants: one store per
// parse and kind holds each item once, however many levels enclose it; what
// the lists read is tested through parse_template
// (tests/python/test_used_variables.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <variant>
#include <vector>

#include "template/ast/list_equality.h"
#include "template/compiler/backend.h"
#include "template/parser/parser.h"

namespace lumra::template_parser {
namespace {

using namespace template_ast;

Template parse_ok(const std::string& source) {
  ParserContext context{.user_rules = std::make_shared<const UserRules>(),
                        .backend = template_compiler::language_backend_for(0),
                        .source = TokenText(source)};
  ParseResult result = parse_template_text(context.source, context);
  if (const auto* error = std::get_if<TemplateParseError>(&result)) ADD_FAILURE() << error->text();
  return std::get<Template>(std::move(result));
}

TEST(Listings, EachItemIsStoredOnceUnderAnyNumberOfScopes) {
  constexpr int kUses = 300;
  for (const int depth : {1, 20, 200}) {
    for (const bool on_elements : {false, true}) {
      std::string source;
      for (int i = 0; i < depth; ++i) {
        source += on_elements ? "<p c-for=\"v" + std::to_string(i) + " in xs\">"
                              : "<c-for each=\"v" + std::to_string(i) + " in xs\">";
      }
      for (int i = 0; i < kUses; ++i) source += i % 2 ? "{{ x }}<!-- c -->" : "{{ v0 }}<c-slot name=\"s\"/>";
      for (int i = 0; i < depth; ++i) source += on_elements ? "</p>" : "</c-for>";
      const Template top = parse_ok(source);
      SCOPED_TRACE(source.substr(0, 40));

      // The uses, and each loop's iterable once; each comment and slot once.
      EXPECT_EQ(top.used_variables.stored_items(), static_cast<std::size_t>(kUses + depth));
      EXPECT_EQ(top.comments.stored_items(), static_cast<std::size_t>(kUses / 2));
      EXPECT_EQ(top.slots.stored_items(), static_cast<std::size_t>(kUses / 2));
      EXPECT_EQ(top.slots.size(), static_cast<std::size_t>(kUses / 2));
      // The x uses and every iterable reach the top; v0 is bound there.
      EXPECT_EQ(top.used_variables.size(), static_cast<std::size_t>(kUses / 2 + depth));
      const Node* node = top.elements.front().node();
      for (int level = 1; level < depth; ++level) {
        EXPECT_TRUE(node->used_variables().shares_store_with(top.used_variables)) << level;
        node = node->with_body()->body->elements.front().node();
      }
      const auto& innermost = node->with_body()->body->used_variables;
      EXPECT_TRUE(innermost.shares_store_with(top.used_variables));
      EXPECT_EQ(innermost.size(), static_cast<std::size_t>(kUses));
      // The innermost loop leaves out only its own name.
      EXPECT_EQ(node->used_variables().size(), static_cast<std::size_t>(kUses + 1) - (depth == 1 ? kUses / 2 : 0));
    }
  }
}

// Two trees parsed apart compare equal reading each stored item and record
// at most once, however deep: only short lists are read whole. A difference
// at the innermost level, or in a list written whole, is still found.
TEST(Listings, EqualityReadsEachStoredItemOnce) {
  const auto nest = [](int depth, const std::string& open, const std::string& inner, const std::string& close) {
    std::string out;
    for (int i = 0; i < depth; ++i) out += std::regex_replace(open, std::regex("#"), std::to_string(i));
    out += inner;
    for (int i = 0; i < depth; ++i) out += close;
    return out;
  };
  std::string uses;
  for (int i = 0; i < 300; ++i) uses += i % 3 ? "{{ x }}<!-- c -->" : "{{ v0 }}<c-slot name=\"s\"/>";
  const std::string few = "{{ v0 }}{{ x }}<!-- c -->";
  for (const int depth : {1, 20, 200}) {
    const std::string sources[] = {
        nest(depth, "<c-for each=\"v# in xs\">", uses, "</c-for>"),
        nest(depth, "<p c-for=\"v# in xs\" c-t=\"v#\">", uses, "</p>"),
        nest(depth, "<c-for each=\"v# in xs\">", few, "</c-for>"),
        nest(depth, "<div>", uses, "</div>"),
        nest(depth, "<c-card><c-fill name=\"s\" data=\"{ v# }\">", uses, "</c-fill></c-card>"),
    };
    for (const std::string& source : sources) {
      SCOPED_TRACE(source.substr(0, 60) + " depth " + std::to_string(depth));
      const Template a = parse_ok(source);
      const Template b = parse_ok(source);
      ListReads reads;
      EXPECT_TRUE(equal_trees(a, b, &reads));
      const std::size_t stored =
          a.used_variables.stored_items() + a.comments.stored_items() + a.slots.stored_items();
      // Items, plus at most two records per level (the body, an attribute
      // that reads the loop's names).
      EXPECT_LE(reads.stored, stored + 2 * static_cast<std::size_t>(depth));
      EXPECT_LE(reads.listed, 2 * 16 * reads.lists);

      // One name changed at the innermost level.
      const std::size_t at = source.rfind("{{ x }}");
      std::string other = source;
      other.replace(at, 7, "{{ y }}");
      const Template other_tree = parse_ok(other);
      EXPECT_FALSE(equal_trees(a, other_tree));
      // Equal elements, lists of another parse that differ in one item.
      Template mixed = a;
      mixed.used_variables = other_tree.used_variables;
      EXPECT_FALSE(equal_trees(mixed, b));
      // The same lists written whole compare by their items.
      Template whole = a;
      const SharedTokens flat = a.used_variables.flat();
      whole.used_variables = template_ast::List<Token>(flat.span().begin(), flat.span().end());
      EXPECT_TRUE(equal_trees(whole, b));
      whole.used_variables.mut().back().content = TokenText("z");
      EXPECT_FALSE(equal_trees(whole, b));
    }
  }
}

// Random bodies: loops (in tags and on elements), fills, divs, long and short
// runs of uses, at random depths; names are bound around or free. Some loops
// and fills bind more names than a short read walks (siblings bind the same
// ones), and an element loop's attributes each see its names.
std::string random_body(std::mt19937& rng, int depth, std::vector<int>& extra) {
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const auto name = [&]() -> std::string {
    if (pick(3) == 0 || depth == 0) return "g";
    const int d = pick(depth);
    if (extra[d] > 0 && pick(2) == 0) return "u" + std::to_string(d) + "_" + std::to_string(pick(extra[d]));
    return "v" + std::to_string(d);
  };
  // The names a loop or fill at this depth binds, and the body inside it.
  const auto bind = [&] {
    const int more = std::array{0, 0, 2, 20}[pick(4)];
    std::string names = "v" + std::to_string(depth);
    for (int i = 0; i < more; ++i) names += ", u" + std::to_string(depth) + "_" + std::to_string(i);
    extra.push_back(more);
    return names;
  };
  const auto inner = [&] {
    std::string body = random_body(rng, depth + 1, extra);
    extra.pop_back();
    return body;
  };
  std::string out;
  for (int pieces = pick(4); pieces > 0; --pieces) {
    switch (depth > 7 ? pick(2) : pick(7)) {
      case 0:
        out += "{{ " + name() + " }}";
        break;
      case 1:
        for (int i = pick(80); i > 0; --i) out += "{{ " + name() + " }}";
        break;
      case 2:
        out += "<div c-t=\"" + name() + "\">" + random_body(rng, depth, extra) + "</div>";
        break;
      case 3: {
        const std::string names = bind();
        const std::string iterable = name();
        out += "<c-for each=\"" + names + " in " + iterable + "\">" + inner() + "</c-for>";
        break;
      }
      case 4: {
        std::string tag = "<p c-for=\"" + bind() + " in xs\"";
        ++depth;  // the attributes see the names
        for (int i = pick(4); i > 0; --i) tag += " c-x" + std::to_string(i) + "=\"" + name() + "\"";
        --depth;
        tag += ">";
        out += tag + inner() + "</p>";
        break;
      }
      case 5: {
        out += "<c-card><c-fill name=\"s\" data=\"{ " + bind() + " }\">";
        out += inner() + "</c-fill></c-card>";
        break;
      }
      default:
        out += "<c-if cond=\"" + name() + "\">" + random_body(rng, depth, extra) + "</c-if>";
    }
  }
  return out;
}

// Chains of loops over literals and of fills around few uses: many records
// nested around few tokens, which short reads leave to the index.
std::string chained_body(std::mt19937& rng, int depth) {
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const auto name = [&] { return pick(3) == 0 || depth == 0 ? std::string("g") : "v" + std::to_string(pick(depth)); };
  std::string out;
  for (int pieces = 1 + pick(3); pieces > 0; --pieces) {
    const int links = 1 + pick(20);
    switch (depth > 60 ? pick(2) : pick(4)) {
      case 0:
        for (int i = 1 + pick(3); i > 0; --i) out += "{{ " + name() + " }}";
        break;
      case 1:
        for (int i = pick(80); i > 0; --i) out += "{{ " + name() + " }}";
        break;
      case 2:
        for (int i = 0; i < links; ++i) out += "<c-for each=\"v" + std::to_string(depth + i) + " in [1, 2]\">";
        out += chained_body(rng, depth + links);
        for (int i = 0; i < links; ++i) out += "</c-for>";
        break;
      default:
        for (int i = 0; i < links; ++i) {
          out += "<c-card><c-fill name=\"s\" data=\"{ v" + std::to_string(depth + i) + " }\">";
        }
        out += chained_body(rng, depth + links);
        for (int i = 0; i < links; ++i) out += "</c-fill></c-card>";
    }
  }
  return out;
}

// The tokens of a list's run that no record of its window leaves out, each
// record checked at each token.
std::vector<const Token*> listed_by_every_record(const SharedTokens& list) {
  std::vector<const Token*> out;
  const auto layout = list.layout();
  if (layout.store == nullptr) return out;
  const ListStore<Token>& store = *layout.store;
  for (std::size_t i = layout.begin; i < layout.end; ++i) {
    const VariableKey key(store.items[i].content);
    bool left_out = false;
    for (std::uint32_t r = layout.left_begin; r < layout.left_end && !left_out; ++r) {
      const LeftOut& record = store.left_out[r];
      if (i < record.from || i >= record.to) continue;
      left_out = record.keys_from == record.keys_to;
      for (std::uint32_t k = record.keys_from; k < record.keys_to; ++k) left_out |= store.keys[k] == key.view();
    }
    if (!left_out) out.push_back(&store.items[i]);
  }
  return out;
}

// Every level's used variables, read as a caller reads them (walked, or
// through the store's index, twice), are the tokens a walk of the level's
// whole run lists and those no record leaves out.
TEST(Listings, EveryWayOfReadingListsTheSame) {
  std::mt19937 rng(52);
  std::size_t indexed = 0;
  std::size_t short_reads_indexed = 0;
  for (int round = 0; round < 400; ++round) {
    const bool chained = round % 4 == 3;
    std::vector<int> extra;
    const std::string source = chained ? chained_body(rng, 0) : random_body(rng, 0, extra);
    const Template top = parse_ok(source);
    std::vector<const SharedTokens*> lists;
    std::vector<const Template*> pending{&top};
    while (!pending.empty()) {
      const Template* body = pending.back();
      pending.pop_back();
      lists.push_back(&body->used_variables);
      for (const TemplateElement& element : body->elements) {
        const Node* node = element.node();
        if (!node) continue;
        lists.push_back(&node->used_variables());
        if (node->has_body()) pending.push_back(&*node->with_body()->body);
      }
    }
    // Short runs first: their reads build the index only when they give up
    // walking, before any long read could.
    std::stable_partition(lists.begin(), lists.end(),
                          [](const SharedTokens* list) { return list->layout().end - list->layout().begin <= 64; });
    for (const SharedTokens* list : lists) {
      std::vector<const Token*> read, again, walked;
      list->for_each([&](const Token& token) { read.push_back(&token); });
      list->for_each([&](const Token& token) { again.push_back(&token); });
      list->for_each_by_walk([&](const Token& token) { walked.push_back(&token); });
      ASSERT_EQ(read, walked) << source;
      ASSERT_EQ(again, walked) << source;
      ASSERT_EQ(listed_by_every_record(*list), walked) << source;
      const auto layout = list->layout();
      if (list->is_flat()) continue;
      const bool built = layout.store->listed.load() != nullptr;
      if (layout.end - layout.begin > 64) {
        ++indexed;
      } else if (built) {
        ++short_reads_indexed;
      }
    }
  }
  EXPECT_GT(indexed, 100u);              // the index served long runs
  EXPECT_GT(short_reads_indexed, 100u);  // and short ones under deep chains
}

// Two parsed trees that differ where a loop or a fill leaves the difference
// out of the levels around it are told apart without reading a list.
TEST(Listings, HiddenDifferencesAreFoundBeforeAnyListIsRead) {
  const auto nest = [](const std::string& inner) {
    std::string out;
    for (int i = 0; i < 50; ++i) out += "<div>";
    out += inner;
    for (int i = 0; i < 50; ++i) out += "</div>";
    return out;
  };
  const auto uses = [](const std::string& name) {
    std::string out;
    for (int i = 0; i < 500; ++i) out += "{{ " + name + " }}{{ g }}";
    return out;
  };
  const std::function<std::string(const std::string&)> shapes[] = {
      [&](const std::string& v) { return nest("<c-for each=\"" + v + " in xs\">" + uses(v) + "</c-for>"); },
      [&](const std::string& v) {
        return nest("<c-card><c-fill name=\"s\" data=\"{ " + v + " }\">" + uses(v) + "</c-fill></c-card>");
      },
      [&](const std::string& v) { return nest("<p c-for=\"" + v + " in xs\">" + uses(v) + "</p>"); },
  };
  for (const auto& shape : shapes) {
    const Template a = parse_ok(shape("x"));
    const Template b = parse_ok(shape("y"));
    ListReads reads;
    EXPECT_FALSE(equal_trees(a, b, &reads)) << shape("x").substr(0, 300);
    EXPECT_EQ(reads.lists, 0u);
    // The other tree's top-level lists over these elements: equal lists that
    // differ in place, where the loop leaves x and y out. They are read for
    // what they hold (the free uses), not for their runs.
    Template mixed = b;
    mixed.elements = a.elements;
    reads = {};
    EXPECT_TRUE(equal_trees(mixed, a, &reads));
    EXPECT_LE(reads.listed, 2 * 501u);
    EXPECT_TRUE(equal_trees(a, parse_ok(shape("x"))));
  }
}

}  // namespace
}  // namespace lumra::template_parser
