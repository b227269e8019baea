#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "html/mark.h"

namespace lumra::html {
namespace {

using Strings = std::vector<std::string>;

struct Expected {
  Strings segments;
  // id, html, added
  std::vector<std::tuple<std::string, std::string, Strings>> placeholders;
};

void expect_mark(std::string_view input, const Strings& root, std::string_view attr,
                 const Expected& want) {
  const MarkOutput got = mark_html(input, root, attr);
  EXPECT_EQ(got.segments, want.segments) << input;
  ASSERT_EQ(got.placeholders.size(), want.placeholders.size()) << input;
  for (std::size_t i = 0; i < got.placeholders.size(); ++i) {
    EXPECT_EQ(got.placeholders[i].id, std::get<0>(want.placeholders[i])) << input;
    EXPECT_EQ(got.placeholders[i].html, std::get<1>(want.placeholders[i])) << input;
    EXPECT_EQ(got.placeholders[i].added_attributes, std::get<2>(want.placeholders[i])) << input;
  }
}

// Single-segment cases: the whole output with root attribute `a`.
TEST(MarkHtml, Splices) {
  struct Case {
    std::string_view input;
    std::string_view output;
  };
  const Case cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"<div class=\"x\" >", "<div class=\"x\" a=\"\" >"},
      {"<br/>", "<br a=\"\"/>"},
      {"<br />", "<br a=\"\" />"},
      {"<a href=/x/><b>", "<a href=/x/ a=\"\"><b>"},
      {"<img src=\"a.png\"><p>", "<img src=\"a.png\" a=\"\"><p a=\"\">"},
      {"<p a=\"1\"></p><p>", "<p a=\"1\" a=\"\"></p><p a=\"\">"},
      {"<p><i></i></p>", "<p a=\"\"><i></i></p>"},
      {"<script>if (a<b) {}</script><p>", "<script a=\"\">if (a<b) {}</script><p a=\"\">"},
      {"<SCRIPT><p></script ><p>", "<SCRIPT a=\"\"><p></script ><p a=\"\">"},
      {"<style></styles></style><p>", "<style a=\"\"></styles></style><p a=\"\">"},
      {"<title>x</title", "<title a=\"\">x</title"},
      {"<textarea><p>", "<textarea a=\"\"><p>"},
      {"<script/><p>", "<script a=\"\"/><p a=\"\">"},
      {"<div title=\"a>b\">", "<div title=\"a>b\" a=\"\">"},
      {"a < b <1 <", "a < b <1 <"},
      {"<!-- <div> --><p>", "<!-- <div> --><p a=\"\">"},
      {"<!-- <div>", "<!-- <div>"},
      {"<!--><p>", "<!--><p>"},
      {"<![CDATA[<p>]]><p>", "<![CDATA[<p>]]><p a=\"\">"},
      {"<!doctype html><?x <p>?><p>", "<!doctype html><?x <p>?><p a=\"\">"},
      {"</div><p>", "</div><p>"},
      {"</div><p><i>", "</div><p><i a=\"\">"},
      {"</br><p>", "</br><p a=\"\">"},
      {"</><p>", "</><p>"},
      {"<div class=\"a", "<div class=\"a a=\"\""},
      {"<div class=", "<div class= a=\"\""},
      {"<div", "<div a=\"\""},
      {"<div x y=z/ w>", "<div x y=z/ w a=\"\">"},
      {"<div x / >", "<div x a=\"\" / >"},
      {"<div =v>", "<div =v a=\"\">"},
      {"<p\fid=1\f>", "<p\fid=1 a=\"\"\f>"},
      {"\xC3\xA9<p t=\"\xE2\x82\xAC\">\xF0\x9F\x98\x80", "\xC3\xA9<p t=\"\xE2\x82\xAC\" a=\"\">\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    expect_mark(c.input, {"a"}, "c-render-id", Expected{{std::string(c.output)}, {}});
  }
}

TEST(MarkHtml, RootSplice) {
  EXPECT_EQ(build_root_splice(Strings{}), "");
  EXPECT_EQ(build_root_splice(Strings{"a", "b", "a"}), " a=\"\" b=\"\" a=\"\"");
  expect_mark("<p><q>", {}, "x", Expected{{"<p><q>"}, {}});
  expect_mark("<p>", {"a", "b"}, "x", Expected{{"<p a=\"\" b=\"\">"}, {}});
}

TEST(MarkHtml, Placeholders) {
  const std::string_view attr = "c-render-id";
  expect_mark("<div><template c-render-id=\"c2\"></template></div>", {"data-cid-c1"}, attr,
              Expected{{"<div data-cid-c1=\"\">", "</div>"},
                       {{"c2", "<template c-render-id=\"c2\"></template>", {}}}});
  expect_mark("<template c-render-id=\"c2\"></template>", {"a"}, attr,
              Expected{{"", ""}, {{"c2", "<template c-render-id=\"c2\" a=\"\"></template>", {"a"}}}});
  expect_mark("<template c-render-id=\"c2\">  \n </template >x", {"a"}, attr,
              Expected{{"", "x"},
                       {{"c2", "<template c-render-id=\"c2\" a=\"\">  \n </template >", {"a"}}}});
  expect_mark("<TEMPLATE C-RENDER-ID='C2'></TEMPLATE>", {}, attr,
              Expected{{"", ""}, {{"C2", "<TEMPLATE C-RENDER-ID='C2'></TEMPLATE>", {}}}});
  expect_mark("<template c-render-id></template>", {}, attr,
              Expected{{"", ""}, {{"", "<template c-render-id></template>", {}}}});
  expect_mark("<template c-render-id=a c-render-id=b></template>", {}, attr,
              Expected{{"", ""}, {{"b", "<template c-render-id=a c-render-id=b></template>", {}}}});
  // After a root placeholder the depth is unchanged: the next tag is root-level too.
  expect_mark("<template c-render-id=1></template><p><template c-render-id=2></template></p>",
              {"a"}, attr,
              Expected{{"", "<p a=\"\">", "</p>"},
                       {{"1", "<template c-render-id=1 a=\"\"></template>", {"a"}},
                        {"2", "<template c-render-id=2></template>", {}}}});
}

TEST(MarkHtml, NotPlaceholders) {
  const std::string_view attr = "c-render-id";
  const std::string_view cases[] = {
      "<template c-render-id=\"c2\">x</template>",
      "<template c-render-id=\"c2\"/>",
      "<template data-x=\"1\"></template>",
      "<template c-render-id=\"c2\"></templatex>",
      "<template c-render-id=\"c2\"></template",
      "<template c-render-id=\"c2\"><!----></template>",
      "<templates c-render-id=\"c2\"></template>",
      "<template c-render-id=\"c2\"",
  };
  for (std::string_view input : cases) {
    const MarkOutput got = mark_html(input, {}, attr);
    EXPECT_TRUE(got.placeholders.empty()) << input;
    ASSERT_EQ(got.segments.size(), 1u) << input;
    EXPECT_EQ(got.segments[0], input);
  }
}

// Joining the pieces with the splices removed gives the input back, and
// every splice lies inside a piece, for a family of prefixes of one document.
TEST(MarkHtml, PiecesCoverInput) {
  const std::string doc =
      "<!DOCTYPE html><div id=\"x\"><template c-render-id='1'> </template><script>a<b</script>"
      "<p title=\"a>b\">t</p></div><template c-render-id=2></template><br><!-- c -->";
  for (std::size_t len = 0; len <= doc.size(); ++len) {
    const std::string_view in(doc.data(), len);
    const MarkPlan plan = plan_marks(in, "c-render-id");
    ASSERT_EQ(plan.segments.size(), plan.placeholders.size() + 1);
    std::string joined;
    std::size_t expected_begin = 0;
    for (std::size_t i = 0; i < plan.segments.size(); ++i) {
      EXPECT_EQ(plan.segments[i].begin, expected_begin);
      joined.append(in.substr(plan.segments[i].begin, plan.segments[i].end - plan.segments[i].begin));
      if (i < plan.placeholders.size()) {
        const MarkPiece& ph = plan.placeholders[i].html;
        EXPECT_EQ(ph.begin, plan.segments[i].end);
        joined.append(in.substr(ph.begin, ph.end - ph.begin));
        expected_begin = ph.end;
      }
    }
    EXPECT_EQ(joined, in) << len;
    EXPECT_EQ(plan.segments.back().end, len);
  }
}

}  // namespace
}  // namespace lumra::html
