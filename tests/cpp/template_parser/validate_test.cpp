// Node validation through a small stand-in for the element walk: it reads a
// subset of the template language (tags, bare and quoted attributes, text,
// {{ }}, <c-raw>), builds nodes as the walk does and files every finished
// element through validate_template, so each case is one line of template.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/records.h"
#include "template/ast/names.h"
#include "template/parser/validate.h"
#include "template/parser/validate_checks.h"

namespace lumra::template_parser {
namespace {

using namespace template_ast;

class MiniWalk {
 public:
  MiniWalk(std::string source, UserRules rules) {
    context_.source = std::make_shared<const std::string>(std::move(source));
    context_.user_rules = std::make_shared<const UserRules>(std::move(rules));
  }

  Status run() {
    const std::string& s = *context_.source;
    while (pos_ < s.size()) {
      Status error;
      if (s.compare(pos_, 2, "{{") == 0) {
        const std::size_t end = s.find("}}", pos_) + 2;
        collector().tmpl.elements.emplace_back(Expr{token(pos_, end), token(pos_ + 2, end - 2), {}, {}});
        pos_ = end;
      } else if (s.compare(pos_, 7, "<c-raw>") == 0) {
        error = raw_block();
      } else if (s.compare(pos_, 2, "</") == 0) {
        error = end_tag();
      } else if (s[pos_] == '<') {
        error = start_tag();
      } else {
        const std::size_t end = std::min(s.find('<', pos_), s.find("{{", pos_));
        collector().tmpl.elements.emplace_back(Text{token(pos_, std::min(end, s.size()))});
        pos_ = std::min(end, s.size());
      }
      if (error) return error;
    }
    EXPECT_TRUE(stack_.empty()) << "unclosed tag in test template";
    return std::nullopt;
  }

  Collector top;

 private:
  Collector& collector() { return stack_.empty() ? top : stack_.back().body; }

  Token token(std::size_t start, std::size_t end) const {
    const std::string& s = *context_.source;
    LineCol at{1, 1};
    for (std::size_t i = 0; i < start; ++i) at = s[i] == '\n' ? LineCol{at.line + 1, 1} : LineCol{at.line, at.column + 1};
    return Token{s.substr(start, end - start), start, end, at};
  }

  std::size_t skip(std::string_view stops) {
    const std::size_t end = context_.source->find_first_of(stops, pos_);
    return end == std::string::npos ? context_.source->size() : end;
  }

  HtmlStartTag read_start_tag() {
    const std::string& s = *context_.source;
    HtmlStartTag tag;
    const std::size_t tag_start = pos_++;
    tag.name = token(pos_, skip(" />"));
    pos_ = tag.name.end_index;
    while (s[pos_] != '>' && s[pos_] != '/') {
      if (s[pos_] == ' ') {
        ++pos_;
        continue;
      }
      HtmlAttr attr;
      const std::size_t attr_start = pos_;
      attr.key = token(pos_, skip(" =/>"));
      pos_ = attr.key.end_index;
      if (s[pos_] == '=') {
        const char quote = s[++pos_];
        const std::size_t close = s.find(quote, pos_ + 1);
        attr.value = token(pos_, close + 1);
        attr.inner_value = token(pos_ + 1, close);
        pos_ = close + 1;
      }
      attr.token = token(attr_start, pos_);
      const std::string& key = attr.key.content;
      const bool is_template = attr.inner_value && text::trim_white_space(attr.inner_value->content).starts_with('<');
      attr.kind = key.starts_with('#')                        ? HtmlAttrKind::Meta
                  : !key.starts_with("c-")                    ? HtmlAttrKind::Static
                  : is_template                               ? HtmlAttrKind::Template
                                                              : HtmlAttrKind::Expression;
      if (key == "data" && attr.inner_value && attr.inner_value->content.starts_with('{')) {
        // "{ a, b }": each field named by its own token inside the value.
        FillDataPattern pattern{*attr.value, {}, {}, {}};
        std::size_t at = attr.inner_value->start_index + 1;
        while (at < attr.inner_value->end_index - 1) {
          const std::size_t end = std::min(s.find_first_of(",}", at), attr.inner_value->end_index - 1);
          const std::string_view field = text::trim_white_space(std::string_view(s).substr(at, end - at));
          const std::size_t start = s.find(field, at);
          pattern.fields.push_back({token(start, start + field.size()), token(start, start + field.size())});
          at = end + 1;
        }
        attr.fill_data_pattern = std::move(pattern);
      }
      tag.attrs.push_back(std::move(attr));
    }
    tag.is_self_closing = s[pos_] == '/';
    pos_ = s.find('>', pos_) + 1;
    tag.token = token(tag_start, pos_);
    return tag;
  }

  Status start_tag() {
    HtmlStartTag tag = read_start_tag();
    if (!tag.is_self_closing && !is_void_element(tag.name.content)) {
      stack_.push_back(OpenElement{std::move(tag), {}, {}, {}});
      return std::nullopt;
    }
    return validate_template(Node(Node::SelfClosing{std::move(tag), {}, {}, {}, false}), {}, stack_, collector(),
                             nullptr, context_);
  }

  HtmlEndTag read_end_tag() {
    const std::size_t start = pos_;
    pos_ = context_.source->find('>', pos_) + 1;
    return HtmlEndTag{token(start, pos_), token(start + 2, pos_ - 1), {}};
  }

  Status end_tag() {
    HtmlEndTag end = read_end_tag();
    EXPECT_EQ(stack_.back().start_tag.name.content, end.name.content);
    OpenElement frame = std::move(stack_.back());
    stack_.pop_back();
    Node node(Node::WithBody{std::move(frame.start_tag), std::move(end), Body(std::move(frame.body.tmpl)), {}, {}, {}, false});
    return validate_template(std::move(node), {}, stack_, collector(), &frame.body.checks, context_);
  }

  // Raw blocks run three checks and are filed by the walk itself.
  Status raw_block() {
    HtmlStartTag tag = read_start_tag();
    const std::size_t content_end = context_.source->find("</c-raw>", pos_);
    Template body;
    body.elements.emplace_back(Text{token(pos_, content_end)});
    pos_ = content_end;
    Node node(Node::WithBody{std::move(tag), read_end_tag(), Body(std::move(body)), {}, {}, {}, false});
    const std::string_view source = *context_.source;
    if (Status e = check_client_props(node, source)) return e;
    if (Status e = check_tag_rules(node, *context_.user_rules, source)) return e;
    if (Status e = check_meta_attribute_placement(node, source)) return e;
    collector().tmpl.elements.emplace_back(std::move(node));
    return std::nullopt;
  }

  ParserContext context_;
  std::vector<OpenElement> stack_;
  std::size_t pos_ = 0;
};

// The user rules the shared case table assumes (test_parse_validation.py
// passes the same ones).
UserRules case_rules() {
  auto rule = [](auto set) {
    TagRules rules;
    set(rules);
    return rules;
  };
  using Names = std::vector<std::string>;
  UserRules rules;
  rules["c-card"] = rule([](TagRules& r) {
    r.allowed_slots = Names{"a", "b", "default"};
    r.slot_data_fields = {{"a", {"item", "index"}}, {"b", {}}};
  });
  rules["c-need"] = rule([](TagRules& r) { r.required_slots = {"default"}; });
  rules["c-hdr"] = rule([](TagRules& r) { r.allowed_slots = Names{"header"}; });
  rules["c-ab"] = rule([](TagRules& r) { r.required_slots = {"a", "b"}; });
  rules["c-two"] = rule([](TagRules& r) { r.allowed_slots = Names{"a", "b"}; });
  rules["c-tight"] = rule([](TagRules& r) { r.allowed_attrs = r.required_attrs = {{"id"}}; });
  rules["c-Mixed"] = rule([](TagRules& r) { r.required_attrs = {{"id"}}; });
  rules["my-tag"] = rule([](TagRules& r) { r.allowed_attrs = std::vector<AttrGroup>{{"id"}}; });
  return rules;
}

// The message and the error's start offset, or "" for an accepted template.
std::string run_case(const std::string& source, const UserRules& rules, std::size_t* start) {
  MiniWalk walk(source, rules);
  Status error = walk.run();
  if (!error) return "";
  const auto* grammar = error->grammar_error();
  EXPECT_TRUE(grammar) << "not positioned: " << error->message();
  *start = grammar ? grammar->start() : std::string::npos;
  return error->message();
}

// One table serves this stand-in walk and, through parse_template, the
// Python tests: lines of template, the text the error points at, message.
TEST(Validate, CaseTable) {
  const auto data = test_support::read_file(std::string(LUMRA_TEST_DATA_DIR) + "/validation_cases.txt");
  ASSERT_TRUE(data);
  const UserRules rules = case_rules();
  std::size_t cases = 0;
  std::istringstream lines(*data);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line.starts_with('#')) continue;
    SCOPED_TRACE(line);
    const std::size_t tab = line.find('\t');
    const std::string source = line.substr(0, tab);
    std::string at, message;
    if (tab != std::string::npos) {
      const std::size_t second = line.find('\t', tab + 1);
      at = line.substr(tab + 1, second - tab - 1);
      message = line.substr(second + 1);
    }
    std::size_t start = 0;
    EXPECT_EQ(run_case(source, rules, &start), message);
    if (!message.empty()) {
      EXPECT_EQ(start, source.find(at));
    }
    ++cases;
  }
  EXPECT_GT(cases, 60u);
}

// Many attributes move the per-node name sets to their hash form: a repeat
// far down the list is still found, and distinct names still pass.
TEST(Validate, ManyAttributes) {
  for (const int count : {16, 40}) {
    for (const int repeat : {-1, 0, count - 1}) {
      std::string source = "<div";
      for (int i = 0; i < count; ++i) source += " a" + std::to_string(i) + "=\"v\"";
      if (repeat >= 0) source += " a" + std::to_string(repeat) + "=\"w\"";
      source += "></div>";
      std::size_t start = 0;
      const std::string expected =
          repeat < 0 ? ""
                     : "Duplicate attribute 'a" + std::to_string(repeat) +
                           "' found. Each attribute name can only appear once (except 'c-bind').";
      EXPECT_EQ(run_case(source, {}, &start), expected) << count << " " << repeat;
    }
  }
}

// Fills are found through deep control flow without collecting them again at
// every level; each level reports contains_fills.
TEST(Validate, DeepControlFlowFills) {
  constexpr int kDepth = 400;
  std::string source = "<c-card>";
  for (int i = 0; i < kDepth; ++i) source += "<c-for each=\"x\">";
  source += "<c-fill name=\"zz\"></c-fill>";
  for (int i = 0; i < kDepth; ++i) source += "</c-for>";
  source += "</c-card>";
  std::size_t start = 0;
  EXPECT_EQ(run_case(source, case_rules(), &start), "Tag '<c-card>' does not allow a slot named 'zz'.");
  EXPECT_EQ(start, source.find("<c-fill"));

  MiniWalk accepted(source, {});
  ASSERT_EQ(accepted.run(), std::nullopt);
  const Node* node = accepted.top.tmpl.elements.at(0).node();
  for (int level = 0; node && level <= kDepth; ++level) {
    EXPECT_TRUE(node->contains_fills()) << level;
    node = node->with_body()->body->elements.at(0).node();
  }
}

TEST(Validate, MissingBodyChecksIsAnInternalError) {
  ParserContext context;
  context.source = std::make_shared<const std::string>("<p></p>");
  Collector top;
  Node node(Node::WithBody{});
  node.start_tag().name.content = "p";
  const Status error = validate_template(std::move(node), {}, {}, top, nullptr, context);
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->message().starts_with("Internal error: "));
  EXPECT_TRUE(top.tmpl.elements.empty());
}

}  // namespace
}  // namespace lumra::template_parser
