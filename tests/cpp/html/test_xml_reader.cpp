#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "html/xml_reader.h"

namespace lumra::html {
namespace {

// Events rendered compactly: kind letter, then the text in brackets.
std::string render(std::string_view input, bool check_end_names = false) {
  XmlReader reader(input, XmlReaderConfig{check_end_names});
  std::string out;
  XmlEvent ev;
  while (true) {
    if (!reader.next(ev)) return out + "ERR(" + reader.error() + ")";
    const char* kind = "";
    switch (ev.kind) {
      case XmlEventKind::Start: kind = "S"; break;
      case XmlEventKind::Empty: kind = "E"; break;
      case XmlEventKind::End: kind = "/"; break;
      case XmlEventKind::Text: kind = "T"; break;
      case XmlEventKind::GeneralRef: kind = "&"; break;
      case XmlEventKind::CData: kind = "C"; break;
      case XmlEventKind::Comment: kind = "!"; break;
      case XmlEventKind::Decl: kind = "X"; break;
      case XmlEventKind::PI: kind = "?"; break;
      case XmlEventKind::DocType: kind = "D"; break;
      case XmlEventKind::Eof: return out;
    }
    out += kind;
    out += "[";
    out.append(ev.text);
    out += "]";
    if (ev.kind == XmlEventKind::Start || ev.kind == XmlEventKind::Empty) {
      out += std::to_string(ev.name_len);
    }
  }
}

struct Case {
  std::string_view input;
  std::string_view events;
};

TEST(XmlReader, Events) {
  const Case cases[] = {
      {"", ""},
      {"\xEF\xBB\xBFx", "T[x]"},
      {"x\xEF\xBB\xBF", "T[x\xEF\xBB\xBF]"},
      {"<a b='>'>t</a >", "S[a b='>']1T[t]/[a]"},
      {"<br/><br />", "E[br]2E[br ]2"},
      {"<a\tx>", "S[a\tx]1"},
      {"<>", "S[]0"},
      {"< a></ a>", "S[ a]0/[ a]"},
      {"a & b", "T[a ]T[& b]"},
      {"&amp;x&lt", "&[amp]T[x]T[&lt]"},
      {"a&b&c;", "T[a]T[&b]&[c]"},
      {"&a<b>", "T[&a]S[b]1"},
      {"<!---->", "![]"},
      {"<!-- a -- b --->", "![ a -- b -]"},
      {"<!-->-->", "![>]"},
      {"<![CDATA[x]]>", "C[x]"},
      {"<![CDATA[]]>", "C[]"},
      {"<?xml version='1.0'?>", "X[xml version='1.0']"},
      {"<?xml?>", "X[xml]"},
      {"<?xml-stylesheet x?>", "?[xml-stylesheet x]"},
      {"<?" "?>", "?[]"},
      {"<?a > b?>", "?[a > b]"},
      {"<!doctype html>", "D[html]"},
      {"<!DOCTYPEhtml>", "D[html]"},
      {"<!DOCTYPE x [<!ENTITY a 'b'>]>", "D[x [<!ENTITY a 'b'>]]"},
      {"<a></a></b>", "S[a]1/[a]ERR(ill-formed document: close tag `</b>` does not match any open tag)"},
  };
  for (const Case& c : cases) EXPECT_EQ(render(c.input), c.events) << c.input;
}

TEST(XmlReader, Errors) {
  const Case cases[] = {
      {"<", "syntax error: tag not closed: `>` not found before end of input"},
      {"a < b", "syntax error: tag not closed: `>` not found before end of input"},
      {"<div title='>", "syntax error: tag not closed: `>` not found before end of input"},
      {"</", "syntax error: tag not closed: `>` not found before end of input"},
      {"<!", "syntax error: unknown or missed symbol in markup"},
      {"<!x>", "syntax error: unknown or missed symbol in markup"},
      {"<!>", "syntax error: unknown or missed symbol in markup"},
      {"<!-->", "syntax error: comment not closed: `-->` not found before end of input"},
      {"<!--->", "syntax error: comment not closed: `-->` not found before end of input"},
      {"<!-x-->", "syntax error: comment not closed: `-->` not found before end of input"},
      {"<![CDATA[x", "syntax error: CDATA not closed: `]]>` not found before end of input"},
      {"<![CD]]>", "syntax error: CDATA not closed: `]]>` not found before end of input"},
      {"<!DOCTYPE html", "syntax error: DOCTYPE not closed: `>` not found before end of input"},
      {"<!Dx>", "syntax error: DOCTYPE not closed: `>` not found before end of input"},
      {"<!DOCTYPE>", "ill-formed document: `<!DOCTYPE>` declaration does not contain a name of a document type"},
      {"<!DOCTYPE \n>", "ill-formed document: `<!DOCTYPE>` declaration does not contain a name of a document type"},
      {"<?", "syntax error: processing instruction or xml declaration not closed: `?>` not found before end of input"},
      {"<?>", "syntax error: processing instruction or xml declaration not closed: `?>` not found before end of input"},
      {"<?a>", "syntax error: processing instruction or xml declaration not closed: `?>` not found before end of input"},
      {"</p>", "ill-formed document: close tag `</p>` does not match any open tag"},
      {"</p \t>", "ill-formed document: close tag `</p>` does not match any open tag"},
  };
  for (const Case& c : cases) {
    const std::string got = render(c.input);
    const auto at = got.find("ERR(");
    ASSERT_NE(at, std::string::npos) << c.input;
    EXPECT_EQ(got.substr(at + 4, got.size() - at - 5), c.events) << c.input;
  }
}

TEST(XmlReader, EndNames) {
  struct EndCase {
    std::string_view input;
    bool check;
    std::string_view events;
  };
  const EndCase cases[] = {
      {"<div><br></div>", false, "S[div]3S[br]2/[div]"},
      {"<div><br></div>", true, "S[div]3S[br]2ERR(ill-formed document: expected `</br>`, but `</div>` was found)"},
      {"<DIV></div>", true, "S[DIV]3ERR(ill-formed document: expected `</DIV>`, but `</div>` was found)"},
      {"<a x='1'></a >", true, "S[a x='1']1/[a]"},
      {"<a/></a>", true, "E[a]1ERR(ill-formed document: close tag `</a>` does not match any open tag)"},
      {"<br></p>", false, "S[br]2/[p]"},
  };
  for (const EndCase& c : cases) EXPECT_EQ(render(c.input, c.check), c.events) << c.input;
}

// Text stops at the nearer of '<' and '&', and nothing is skipped: the
// events tile the input. Random text over the bytes that matter.
TEST(XmlReader, TextEndsAtTheNearestMarkupByte) {
  std::mt19937 rng(46);
  constexpr std::string_view kBytes = "xx&;<>/b";
  for (int round = 0; round < 2000; ++round) {
    std::string input;
    const int size = static_cast<int>(rng() % 40);
    for (int i = 0; i < size; ++i) input.push_back(kBytes[rng() % kBytes.size()]);
    XmlReader reader(input, {});
    XmlEvent ev;
    std::size_t covered = 0;  // end of the text events and references so far
    while (reader.next(ev) && ev.kind != XmlEventKind::Eof) {
      if (ev.kind != XmlEventKind::Text && ev.kind != XmlEventKind::GeneralRef) {
        covered = input.size() + 1;  // tags: their extent is not checked here
        continue;
      }
      const std::size_t begin = static_cast<std::size_t>(ev.text.data() - input.data());
      const std::size_t start = ev.kind == XmlEventKind::Text ? begin : begin - 1;
      const std::size_t end = begin + ev.text.size() + (ev.kind == XmlEventKind::GeneralRef ? 1 : 0);
      if (covered <= input.size()) {
        EXPECT_EQ(start, covered) << input;
      }
      covered = end;
      if (ev.kind != XmlEventKind::Text) continue;
      EXPECT_EQ(ev.text.find('<'), std::string_view::npos) << input;
      EXPECT_EQ(ev.text.find('&', 1), std::string_view::npos) << input;
      EXPECT_TRUE(end == input.size() || input[end] == '<' || input[end] == '&') << input;
    }
  }
}

TEST(XmlReader, StackAndStickyError) {
  XmlReader reader("<a><b x='1'><c/>", {});
  XmlEvent ev;
  do {
    ASSERT_TRUE(reader.next(ev));
  } while (ev.kind != XmlEventKind::Eof);
  EXPECT_EQ(reader.open_tags(), (std::vector<std::string_view>{"a", "b"}));
  ASSERT_TRUE(reader.next(ev));
  EXPECT_EQ(ev.kind, XmlEventKind::Eof);

  XmlReader bad("</x>text", {});
  EXPECT_FALSE(bad.next(ev));
  EXPECT_FALSE(bad.next(ev));
  EXPECT_EQ(bad.error(), "ill-formed document: close tag `</x>` does not match any open tag");
}

}  // namespace
}  // namespace lumra::html
