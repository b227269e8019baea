#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
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

// ---- wide code units ------------------------------------------------------------

// Code points of valid UTF-8 text, and the byte offset where each starts
// (plus one entry for the end).
struct Decoded {
  std::u32string points;
  std::vector<std::size_t> starts;
};
Decoded decode(std::string_view utf8) {
  Decoded d;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = len == 1 ? b : b & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    d.points.push_back(c);
    d.starts.push_back(i);
    i += len;
  }
  d.starts.push_back(utf8.size());
  return d;
}

template <class Unit>
std::basic_string<Unit> narrow_to(const std::u32string& points) {
  return std::basic_string<Unit>(points.begin(), points.end());
}

// The plan of `input` scanned as units must be the plan of its UTF-8 form
// with byte offsets turned into code point indexes.
template <class Unit>
void expect_same_plan(std::string_view utf8, std::string_view attr) {
  const Decoded d = decode(utf8);
  const std::basic_string<Unit> units = narrow_to<Unit>(d.points);
  const std::basic_string<Unit> attr_units = narrow_to<Unit>(decode(attr).points);
  const MarkPlan want = plan_marks(utf8, attr);
  const BasicMarkPlan<Unit> got =
      plan_unit_marks<Unit>(units, std::optional<std::basic_string_view<Unit>>(attr_units));
  auto index = [&](std::size_t byte) {
    const auto it = std::lower_bound(d.starts.begin(), d.starts.end(), byte);
    EXPECT_TRUE(it != d.starts.end() && *it == byte) << "cut inside a character at " << byte;
    return static_cast<std::size_t>(it - d.starts.begin());
  };
  auto same_piece = [&](const MarkPiece& g, const MarkPiece& w) {
    EXPECT_EQ(g.begin, index(w.begin));
    EXPECT_EQ(g.end, index(w.end));
    EXPECT_EQ(g.first_splice, w.first_splice);
    EXPECT_EQ(g.splice_count, w.splice_count);
  };
  SCOPED_TRACE(std::string(utf8) + " as " + std::to_string(sizeof(Unit) * 8) + "-bit units");
  ASSERT_EQ(got.splices.size(), want.splices.size());
  for (std::size_t k = 0; k < want.splices.size(); ++k) EXPECT_EQ(got.splices[k], index(want.splices[k]));
  ASSERT_EQ(got.segments.size(), want.segments.size());
  for (std::size_t k = 0; k < want.segments.size(); ++k) same_piece(got.segments[k], want.segments[k]);
  ASSERT_EQ(got.placeholders.size(), want.placeholders.size());
  for (std::size_t k = 0; k < want.placeholders.size(); ++k) {
    same_piece(got.placeholders[k].html, want.placeholders[k].html);
    EXPECT_EQ(got.placeholders[k].root, want.placeholders[k].root);
    EXPECT_EQ(got.placeholders[k].id, narrow_to<Unit>(decode(want.placeholders[k].id).points));
  }
}

// Documents whose every construct crosses the 64-unit blocks of the scan
// somewhere: each is also tried behind prefixes of 0 to 70 units.
const std::string_view kWideDocuments[] = {
    "<div class=\"a\" id=x><template c-id=\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"> </template></div>"
    "<br/><p title='a>b' data-\xc3\xa4=1>\xe6\x97\xa5\xe6\x9c\xac</p><template C-ID=q></TEMPLATE >",
    "<script>if (a<b) {}</script><p><!-- <i> --><![CDATA[<b>]]><!x><?y?></p></br><img src=/a/>",
    "<TEXTAREA><p></textarea ><Title>x</TITLE><style>a>b</style/><p \f\t\n\r x = \"1\" / >",
    "<template c-id></template><template c-id=1>x</template><template c-id=2/><templates c-id=3></template>",
    "<div x y=z/ w><a href=/x/><div =v><p class=",
    "<!-- never closed <p>",
    "<div title=\"never closed",
};

template <class Unit>
void expect_same_plans_for_documents() {
  for (std::string_view doc : kWideDocuments) {
    for (std::size_t pad = 0; pad <= 70; pad += 7) {
      const std::string prefixed = std::string(pad, 'x') + std::string(doc);
      expect_same_plan<Unit>(prefixed, "c-id");
      for (std::size_t len = 0; len <= prefixed.size(); len += 5) {
        std::string cut = prefixed.substr(0, len);
        while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) cut.pop_back();
        if (!cut.empty() && static_cast<unsigned char>(cut.back()) >= 0xC0) cut.pop_back();
        expect_same_plan<Unit>(cut, "c-id");
      }
    }
  }
}

TEST(MarkHtmlWide, SamePlanAsUtf8) {
  expect_same_plans_for_documents<char16_t>();
  expect_same_plans_for_documents<char32_t>();
}

// Units above 127 whose low byte (or low 16 bits) is markup must stay text:
// a wide unit behaves exactly like '#', an ASCII unit that is no markup and
// no letter. Each case is written with units U+0100-U+01FF and also tried
// with other high bytes: U+3Exx, U+FFxx (negative as 16-bit numbers), and in
// 32 bits U+100xx and U+1Fxxx.
TEST(MarkHtmlWide, LookalikeUnitsAreText) {
  const std::u32string cases[] = {
      U"<p>\u013c\u013e\u0122\u0127\u012f\u0120\u013d\u0109\u010a\u010c\u010d!",
      U"<p\u013c\u013e\u0122\u0127\u012f\u0120\u013d><i>",
      U"<p t=\"\u0122\u013e\u0120\"><i>",
      U"<p t=\u0122a\u0122 u=\u0127\u013e\u0127><i>",
      U"<p \u013e x\u013dy\u012f\u0120z><i>",
      U"<\u012fp><i>",
      U"<\u0170><i><\u0174emplate c-id></template>",
      U"<\u0121x><i><\u013f?><i>",
      U"<!--a\u012d\u012d><p>--><i>",
      U"<![CDATA[a\u015d\u015d><p>]]><i>",
      U"<script>\u013c/script><p></script><i>",
      U"<b\u0172><p>",
      U"<t\u0165mplate c-id></template><i>",
      U"<template c-i\u0164></template><i>",
      U"<template c-id>\u0120</template><i>",
      U"<template c-id></template\u0120><i>",
      U"<template c-id=\u0122x\u0122></template><i>",
  };
  auto with_high = [](std::u32string text, char32_t high) {
    for (char32_t& c : text) {
      if (c >= 0x100 && c <= 0x1FF) c = high | (c & 0xFF);
    }
    return text;
  };
  for (const std::u32string& text : cases) {
    std::string hashed;
    for (char32_t c : text) hashed.push_back(c < 0x80 ? static_cast<char>(c) : '#');
    for (std::size_t pad : {0, 9, 50, 63, 64, 100}) {
      const std::string ascii = std::string(pad, 'x') + hashed;
      const MarkPlan want = plan_marks(ascii, "c-id");
      auto same = [&](const auto& got, char32_t high) {
        SCOPED_TRACE(ascii + " with high bits " + std::to_string(high));
        EXPECT_EQ(got.splices, want.splices);
        EXPECT_EQ(got.placeholders.size(), want.placeholders.size());
        ASSERT_EQ(got.segments.size(), want.segments.size());
        for (std::size_t k = 0; k < want.segments.size(); ++k) {
          EXPECT_EQ(got.segments[k].begin, want.segments[k].begin);
          EXPECT_EQ(got.segments[k].end, want.segments[k].end);
        }
      };
      for (char32_t high : {0x100u, 0x3E00u, 0xFF00u, 0x10000u, 0x1F000u}) {
        const std::u32string wide = std::u32string(pad, U'x') + with_high(text, high);
        same(plan_unit_marks<char32_t>(wide, std::u32string_view(U"c-id")), high);
        if (high <= 0xFFFF) {
          const std::u16string wide16(wide.begin(), wide.end());
          same(plan_unit_marks<char16_t>(wide16, std::u16string_view(u"c-id")), high);
        }
      }
    }
  }
}

// The placeholder attribute compares under ASCII folding only; a name that
// the input's units cannot hold never matches.
TEST(MarkHtmlWide, PlaceholderAttributeNames) {
  struct Case {
    std::u32string input;
    std::u32string attr;
    bool placeholder;
  };
  const Case cases[] = {
      {U"<template c-\u00efd=\"\u20ac\"></template>", U"c-\u00efd", true},
      {U"<template C-\u00efD=\"\u20ac\"></template>", U"c-\u00efd", true},
      {U"<template c-\u00cfd=1></template>", U"c-\u00efd", false},  // U+00CF is not folded to U+00EF
      {U"<template c-\u0130d=1></template>", U"c-id", false},
      {U"<template c-\U0001f600=1></template>", U"c-\U0001f600", true},
      {U"<template c-\U0001f600=1></template>", U"c-\U0001f601", false},
      {U"<template =1></template>", U"", true},
  };
  for (const Case& c : cases) {
    const auto plan32 = plan_unit_marks<char32_t>(c.input, std::u32string_view(c.attr));
    EXPECT_EQ(plan32.placeholders.size(), c.placeholder ? 1u : 0u);
    const auto wide = [](char32_t u) { return u > 0xFFFF; };
    if (std::none_of(c.input.begin(), c.input.end(), wide) && std::none_of(c.attr.begin(), c.attr.end(), wide)) {
      const std::u16string in16(c.input.begin(), c.input.end());
      const std::u16string attr16(c.attr.begin(), c.attr.end());
      EXPECT_EQ(plan_unit_marks<char16_t>(in16, std::u16string_view(attr16)).placeholders.size(),
                c.placeholder ? 1u : 0u);
    }
  }
  // No attribute name at all: nothing matches, not even an empty name.
  const auto none = plan_unit_marks<char16_t>(u"<template =1></template><template c-id></template>", std::nullopt);
  EXPECT_TRUE(none.placeholders.empty());
  EXPECT_EQ(none.segments.size(), 1u);
}

// Surrogate units are noted wherever they sit: in the first block, on a
// block edge, in the padded last block; in text, tags and comments.
TEST(MarkHtmlWide, NotesSurrogates) {
  for (std::size_t at : {0, 1, 63, 64, 65, 127, 130, 199}) {
    for (char32_t surrogate : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu}) {
      std::u32string text = U"<p title=\"x\">text<!-- c --><i>";
      while (text.size() < 200) text += U"<b>ab</b>";
      text.resize(200);
      const std::u32string clean = text;
      text[at] = surrogate;
      EXPECT_TRUE(plan_unit_marks<char32_t>(text, std::nullopt).has_surrogates) << at;
      const std::u16string text16(text.begin(), text.end());
      EXPECT_TRUE(plan_unit_marks<char16_t>(text16, std::nullopt).has_surrogates) << at;
      EXPECT_FALSE(plan_unit_marks<char32_t>(clean, std::nullopt).has_surrogates);
    }
  }
  // Neighbours of the range are ordinary code points.
  EXPECT_FALSE(plan_unit_marks<char16_t>(u"\ud7ff\ue000<p>", std::nullopt).has_surrogates);
  EXPECT_FALSE(plan_unit_marks<char32_t>(U"\U0010d800\U0001d800<p>", std::nullopt).has_surrogates);
}

// A listener sees each placeholder as soon as it is final, with its segment.
TEST(MarkHtmlWide, ListenerSeesEachPlaceholderWhenFinal) {
  struct Recorder final : MarkListener<char16_t> {
    std::vector<MarkPiece> segments;
    std::vector<std::u16string> ids;
    void on_placeholder(const BasicMarkPlan<char16_t>& plan) override {
      EXPECT_EQ(plan.segments.size(), plan.placeholders.size());
      segments.push_back(plan.segments.back());
      ids.emplace_back(plan.placeholders.back().id);
    }
  };
  std::u16string doc;
  for (int i = 0; i < 40; ++i) doc += u"<div>\u65e5<template c-id=" + std::u16string(1, u'a' + i % 26) + u"></template></div>";
  Recorder recorder;
  const auto plan = plan_unit_marks<char16_t>(doc, std::u16string_view(u"c-id"), &recorder);
  ASSERT_EQ(recorder.segments.size(), 40u);
  ASSERT_EQ(plan.placeholders.size(), 40u);
  for (std::size_t i = 0; i < 40; ++i) {
    EXPECT_EQ(recorder.segments[i].begin, plan.segments[i].begin);
    EXPECT_EQ(recorder.segments[i].end, plan.segments[i].end);
    EXPECT_EQ(recorder.ids[i], plan.placeholders[i].id);
  }
}

}  // namespace
}  // namespace lumra::html
