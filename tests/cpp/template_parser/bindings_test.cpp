// Bindings of special tags on hand-built start tags: what each tag introduces,
// how its attributes change, and the refusals, all on whole-input positions.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "template/parser/bindings.h"
#include "template/parser/tokens.h"

namespace lumra::template_parser {
namespace {

using template_ast::HtmlAttr;
using template_ast::Token;

// The token of source[start, end) as the parser places it.
Token token_at(const std::string& source, std::size_t start, std::size_t end) {
  return token_slice(Token{source, 0, source.size(), {1, 1}}, static_cast<std::int64_t>(start),
                     static_cast<std::int64_t>(end) - static_cast<std::int64_t>(source.size()));
}

// The attributes of the start tag `source` (`key` or `key="value"`, split at
// blanks outside quotes), as the attribute builder makes them.
template_ast::List<HtmlAttr> attributes(const std::string& source) {
  template_ast::List<HtmlAttr> attrs;
  std::size_t i = source.find_first_of(" \n>");
  while (i < source.size() && source[i] != '>') {
    if (source[i] == ' ' || source[i] == '\n') {
      ++i;
      continue;
    }
    const std::size_t key_end = source.find_first_of(" \n=>", i);
    HtmlAttr attr;
    attr.key = token_at(source, i, key_end);
    std::size_t end = key_end;
    if (source[key_end] == '=') {
      end = source.find('"', key_end + 2) + 1;
      attr.value = token_at(source, key_end + 1, end);
      attr.inner_value = token_at(source, key_end + 2, end - 1);
      attr.quote_char = U'"';
    }
    attr.token = token_at(source, i, end);
    attrs.push_back(std::move(attr));
    i = end;
  }
  return attrs;
}

std::string tokens(const template_ast::List<Token>& list) {
  std::string out;
  for (const auto& t : list) {
    out += (out.empty() ? "" : " ") + t.content + "@" + std::to_string(t.start_index) + ":" +
           std::to_string(t.line_col.line) + "." + std::to_string(t.line_col.column);
  }
  return out;
}

// "introduced | key[used] ... | fill pattern", or "error@start: message".
std::string bindings_of(const std::string& source, std::uint8_t lang = 0) {
  ParserContext context{.user_rules = std::make_shared<UserRules>(),
                        .backend = template_compiler::language_backend_for(lang),
                        .source = template_ast::TokenText(source)};
  const std::string name = source.substr(1, source.find_first_of(" \n>") - 1);
  auto attrs = attributes(source);
  auto result = resolve_tag_bindings(name, 0, source.size(), attrs, context);
  if (!result) {
    const auto* at = result.error().grammar_error();
    return "error@" + (at ? std::to_string(at->start()) : "none") + ": " + result.error().message();
  }
  std::string out = tokens(result.value()) + " |";
  for (const auto& attr : attrs) {
    if (attr.kind == template_ast::HtmlAttrKind::Expression) out += " " + attr.key.content + "[" + tokens(attr.used_variables) + "]";
    if (!attr.comments.empty()) out += " #" + attr.comments.front().value.content;
    if (const auto& p = attr.fill_data_pattern) {
      out += " {" + (p->whole ? p->whole->content : "");
      for (const auto& f : p->fields) out += " " + f.source.content + ">" + f.target.content;
      out += p->rest ? " **" + p->rest->content + "}" : "}";
    }
  }
  return out;
}

// Whole texts of the refusals are tested through parse_template in Python;
// here an error is matched by its start.
TEST(Bindings, IntroducedVariablesAttributeChangesAndRefusals) {
  const std::pair<std::string, std::string> cases[] = {
      {R"(<c-if cond="x > 0 # pos">)", " | cond[x@12:1.13] # pos"},
      {R"(<c-elif cond="  " c-for="">)", " |"},
      {R"(<c-if cond>)", " |"},
      {R"(<li cond="x" c-for="x in xs" c-for="y in ys">)", "y@36:1.37 | c-for[xs@25:1.26] c-for[ys@41:1.42]"},
      {R"(<c-fill data="d" fallback="fb">)", "d@14:1.15 fb@27:1.28 | {d}"},
      {R"(<c-fill data="d" c-bind="b">)", " | {d}"},
      {R"(<c-fill c-bind="b" data="d" fallback="f&quot;'\n">)", "d@25:1.26 f&quot;'\\n@38:1.39 | {d}"},
      {"<c-fill data=\"{\n  \xef\xac\x81,\n  x as \xc3\xa9 }\">", "\xef\xac\x81@18:2.3 \xc3\xa9@30:3.8 | { \xef\xac\x81>\xef\xac\x81 x>\xc3\xa9}"},
      {R"(<div c-bind="attrs" data="x">)", " |"},
      {R"(<c-raw c-bind="a" c-bind="b">)", "error@7: 'c-bind' is not supported directly on '<c-raw>'."},
      {R"(<c-empty class="x" c-bind="b">)", "error@19: 'c-bind' is not supported directly on '<c-empty>'."},
      {R"(<c-for each>)", "error@7: Tag '<c-for>' attribute 'each' must have a value."},
      {"<c-for each=\"\xef\xac\x81le, file in xs\">", "error@20: Cannot define variable 'file' more than once"},
      {R"(<c-for each="x in a) + (b">)", "error@13: Failed to parse 'each' attribute: Tag '<c-for>' 'each' attribute "
                                         "must be a comprehension expression"},
      {R"(<c-if cond="x +">)", "error@12: Failed to parse expression: Parse error: Expected an expression at byte "
                                "range 4..5"},
      {R"(<c-fill data="{ a, **a }">)", "error@21: Cannot define variable 'a' more than once in a <c-fill>"},
      {"<c-fill data=\"{ \xef\xac\x81, x as fi }\">", "error@26: Cannot define variable 'fi' more than once in a <c-fill>"},
      {R"(<c-fill data="{ a, a as b }">)", "error@19: Cannot read slot-data field 'a' more than once"},
      {R"(<c-fill data="{ **r, **s }">)", "error@18: The '**rest' binding must be the last item"},
      {R"(<c-fill data="{ a as True }">)", "error@21: <c-fill> data bindings require valid Python identifiers"},
      {R"(<c-fill data="">)", "error@14: Invalid <c-fill> data binding."},
  };
  for (const auto& [source, expected] : cases) {
    const std::string got = bindings_of(source);
    EXPECT_EQ(expected.starts_with("error@") ? got.substr(0, expected.size()) : got, expected) << source;
  }
}

}  // namespace
}  // namespace lumra::template_parser
