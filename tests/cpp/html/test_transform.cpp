#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "html/transform.h"

namespace lumra::html {
namespace {

TransformOptions opts(std::vector<std::string> root, std::vector<std::string> all,
                      std::optional<std::string> tracked = std::nullopt) {
  return TransformOptions{std::move(root), std::move(all), std::move(tracked)};
}

std::string html_of(const TransformResult& r) {
  if (const auto* err = std::get_if<TransformError>(&r)) return "ERR(" + err->message + ")";
  return std::get<TransformOutput>(r).html;
}

TEST(TransformHtml, WrittenForms) {
  struct Case {
    std::string_view input;
    std::string_view output;
  };
  const TransformOptions o = opts({"r"}, {"a"});
  const Case cases[] = {
      {"", ""},
      {"<div class=\"a\">", "<div class=\"a\" r=\"\" a=\"\">"},
      {"<br>", "<br r=\"\" a=\"\"/>"},
      {"<br />", "<br  r=\"\" a=\"\"/>"},
      {"<BR><p>", "<BR r=\"\" a=\"\"/><p r=\"\" a=\"\">"},
      {"<x/><y>", "<x r=\"\" a=\"\"/><y r=\"\" a=\"\">"},
      {"<div></div ><p>", "<div r=\"\" a=\"\"></div><p r=\"\" a=\"\">"},
      {"<br></br>x", "<br r=\"\" a=\"\"/>x"},
      {"<p><br></p><i>", "<p r=\"\" a=\"\"><br a=\"\"/></p><i r=\"\" a=\"\">"},
      {"<br></p><i>", "<br r=\"\" a=\"\"/></p><i a=\"\">"},
      // The 32-bit depth wraps: one level below the stray end tag is depth 0.
      {"<br></p><p><i>", "<br r=\"\" a=\"\"/></p><p a=\"\"><i r=\"\" a=\"\">"},
      {"<!doctype html >", "<!DOCTYPE html >"},
      {"<!-- c --><![CDATA[<x>]]><?xml version=\"1\"?><?pi x?>",
       "<!-- c --><![CDATA[<x>]]><?xml version=\"1\"?><?pi x?>"},
      {"a & b &amp; &#x41; c", "a & b &amp; &#x41; c"},
      {"<div title=\"a>b\">", "<div title=\"a>b\" r=\"\" a=\"\">"},
      {"\xEF\xBB\xBF<p>\xC3\xA9</p>", "<p r=\"\" a=\"\">\xC3\xA9</p>"},
      {"<div><p>text", "<div r=\"\" a=\"\"><p a=\"\">text"},
      {"<a href=/x/>", "<a href=/x r=\"\" a=\"\"/>"},
      {"<p>a</p>  <p>b</p>", "<p r=\"\" a=\"\">a</p>  <p r=\"\" a=\"\">b</p>"},
      {"<div><br></div>", "<div r=\"\" a=\"\"><br a=\"\"/></div>"},
      {"<p></p></div>", "ERR(ill-formed document: close tag `</div>` does not match any open tag)"},
      {"<div", "ERR(syntax error: tag not closed: `>` not found before end of input)"},
  };
  for (const auto& c : cases) EXPECT_EQ(html_of(transform_html(c.input, o, false)), c.output) << c.input;
}

TEST(TransformHtml, CheckEndNames) {
  const TransformOptions o = opts({}, {});
  EXPECT_EQ(html_of(transform_html("<div><br></div>", o, true)),
            "ERR(ill-formed document: expected `</br>`, but `</div>` was found)");
  EXPECT_EQ(html_of(transform_html("<DIV></div>", o, true)),
            "ERR(ill-formed document: expected `</DIV>`, but `</div>` was found)");
  EXPECT_EQ(html_of(transform_html("<DIV></div>", o, false)), "<DIV></div>");
  EXPECT_EQ(html_of(transform_html("<div><br></br></div>", o, true)), "<div><br/></div>");
}

TEST(TransformHtml, DepthWrapsBelowRoot) {
  // One stray end tag leaves every later tag below the root, for good.
  const TransformOptions o = opts({"r"}, {});
  std::string input = "<br></p>";
  for (int i = 0; i < 3; ++i) input += "<i></i>";
  EXPECT_EQ(html_of(transform_html(input, o, false)), "<br r=\"\"/></p><i></i><i></i><i></i>");
}

TEST(TransformHtml, Tracking) {
  struct Case {
    std::string_view input;
    std::vector<std::string> root, all;
    // value -> added, in capture order
    std::vector<std::pair<std::string, std::vector<std::string>>> captured;
  };
  using Added = std::vector<std::string>;
  const Case cases[] = {
      {"<div data-id=\"123\"><p>Hello</p></div>", {"data-root-id"}, {"data-v-123"},
       {{"123", {"data-root-id", "data-v-123"}}}},
      {"<p data-id='x'></p><p data-id=\"y\"/>", {}, {}, {{"x", Added{}}, {"y", Added{}}}},
      {"<div data-id>", {}, {"v"}, {}},
      {"<div data-id=5>", {}, {"v"}, {}},
      {"<div data-id=5 data-id=\"6\">", {}, {}, {}},
      // A bare first occurrence makes every later one a repeat.
      {"<div data-id data-id=\"6\">", {}, {}, {}},
      {"<div hidden x=1 data-id = 'a&amp;b'>", {}, {}, {{"a&amp;b", Added{}}}},
      {"<div data-id='a\"b'>", {}, {}, {{"a\"b", Added{}}}},
      {"<div x=\"data-id='no'\" data-id='yes'>", {}, {}, {{"yes", Added{}}}},
      {"<data-id data-id='n'>", {}, {}, {{"n", Added{}}}},
      {"<span>", {}, {"data-id"}, {{"", Added{"data-id"}}}},
      // The reader pairs the two quotes; by attribute rules the second one
      // opens a value that closes inside the appended attributes, which is
      // what the written tag says too.
      {"<p k\"=1 data-id=\">", {}, {"r"}, {{" r=", Added{"r"}}}},
      {"<p k\"=1 data-id=\">", {}, {"data-id"}, {{" data-id=", Added{"data-id"}}}},
      {"<span data-id=\"in\">", {"data-id"}, {}, {{"in", Added{"data-id"}}}},
  };
  for (const Case& c : cases) {
    const auto r = transform_html(c.input, opts(c.root, c.all, "data-id"), false);
    ASSERT_TRUE(std::holds_alternative<TransformOutput>(r)) << c.input;
    const auto& captured = std::get<TransformOutput>(r).captured;
    ASSERT_EQ(captured.size(), c.captured.size()) << c.input;
    for (std::size_t i = 0; i < captured.size(); ++i) {
      EXPECT_EQ(captured[i].value, c.captured[i].first) << c.input;
      EXPECT_EQ(captured[i].added, c.captured[i].second) << c.input;
    }
  }
}

// The tracked-attribute scan on its own: tag text, tracked name, value or
// nothing. Names begin with their first byte whatever it is, so an entry
// never has an empty name; the first occurrence of the name decides.
TEST(TransformHtml, TrackedAttributeScan) {
  struct Case {
    std::string_view tag;
    std::string_view name;
    std::optional<std::string_view> value;
  };
  const Case cases[] = {
      {"p id=\"1\"", "id", "1"},
      {"p id = '1'", "id", "1"},
      {"p\tid\n=\r\"1\"", "id", "1"},
      {"p id", "id", std::nullopt},
      {"p id x=\"2\" id=\"1\"", "id", std::nullopt},
      {"p id id=\"1\"", "id", std::nullopt},
      {"p id=1 id=\"1\"", "id", std::nullopt},
      {"p id=", "id", std::nullopt},
      {"p id=\"1", "id", std::nullopt},
      {"p x y=\"2\" id='1'", "id", "1"},
      {"p x=a\"b id='1'", "id", "1"},
      {"p a=\"1\"= id=\"3\"", "id", "3"},
      {"p a=\"1\"=id=\"3\"", "id", std::nullopt},
      {"p a=\"1\"=id=\"3\"", "=id", "3"},
      {"p =\"x\"", "", std::nullopt},
      {"p =\"x\" id='1'", "id", "1"},
      {"p a=\"1\"id='2'", "id", "2"},
      {"id id='1'", "id", "1"},
  };
  for (const Case& c : cases) {
    const std::size_t name_len = std::min(c.tag.find_first_of(" \t\n\r"), c.tag.size());
    EXPECT_EQ(find_xml_attribute(c.tag, name_len, c.name), c.value) << c.tag << " / " << c.name;
  }
  // Names longer than 64 bytes are looked for by another search.
  const std::string long_name = "data-" + std::string(100, 'a');
  const std::string tag = "p " + long_name.substr(0, 90) + "=\"0\" " + long_name + "=\"1\"";
  EXPECT_EQ(find_xml_attribute(tag, 1, long_name), "1");
  EXPECT_EQ(find_xml_attribute(tag, 1, long_name + "b"), std::nullopt);
  EXPECT_EQ(find_xml_attribute(tag, 1, long_name.substr(0, 90)), "0");
}

TEST(TransformHtml, DuplicatesAreAppendedAgain) {
  const auto r = transform_html("<p data-v=\"x\">", opts({"data-v"}, {"data-v", "data-v"}), false);
  EXPECT_EQ(html_of(r), "<p data-v=\"x\" data-v=\"\" data-v=\"\" data-v=\"\">");
}

TEST(TransformHtml, NoTrackingNoCapture) {
  const auto r = transform_html("<div data-id=\"1\">", opts({"a"}, {}), false);
  ASSERT_TRUE(std::holds_alternative<TransformOutput>(r));
  EXPECT_TRUE(std::get<TransformOutput>(r).captured.empty());
}

}  // namespace
}  // namespace lumra::html
