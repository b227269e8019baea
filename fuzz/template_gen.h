// Templates from structured inputs: each byte picks from small tables of
// tags, attributes, values, texts and expressions, so that most inputs pass
// the grammar and reach the semantic checks (tag rules, slots and fills,
// chains, scopes, loop and fill bindings). Used by the structured parser
// harness and by the compiler harness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "template/ast/names.h"
#include "template/ast/tag_rules.h"
#include "template/parser/parser.h"

namespace lumra::fuzz {

// Reads choices off the input; reads zeros once it is used up.
class Choices {
 public:
  Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // One of the first `first` entries (0: of the whole table).
  template <std::size_t N>
  std::string_view pick(const std::string_view (&table)[N], std::size_t first = 0) {
    return table[byte() % (first == 0 || first > N ? N : first)];
  }
  bool done() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Each table starts with the entries a valid template may use anywhere (the
// first kTame* of them); tame inputs pick only those, to get past more checks.

// Tag names: plain, void, reserved, components, and near misses.
inline constexpr std::string_view kTags[] = {
    "div", "p", "li", "ul", "span", "br", "img", "input", "template", "c-x", "c-Card", "c-card", "c-list",
    "c-if", "c-elif", "c-else", "c-for", "c-empty", "c-fill", "c-slot", "c-raw", "c-element", "c-component",
    "c-fill", "c-if", "c-for", "c-Card", "C-If", "my-tag", "c-need", "c-two",
};
inline constexpr std::size_t kTameTags = 26;

// Loop clauses, with the names the tables below read, so that loops shadow,
// bind twice and read their own variables.
inline constexpr std::string_view kLoops[] = {
    "x in xs", "item in items", "i, x in enumerate(xs)", "y in x.ys", "x in range(3) for y in x if y",
    "(a, *b) in rows", "x in xs for x in x", "item in item.children", "k in", "1 in xs", "x.y in z",
};
inline constexpr std::size_t kTameLoops = 6;

inline constexpr std::string_view kExpressions[] = {
    "x", "item.title", "x + 1", "f(x, *args, key=y)", "item", "i", "a if b else c", "[v for v in xs if v]",
    "'s' * 3", "x  # note", "y", "xs[1:2]", "{'a': 1}", "lambda q: q", "f'{x!r:>{w}}'", "index", "row",
    "rest", "not x", "x\n  .y", "(y := x)", "a +", "'}}'", "b\"\\x00\"",
};
inline constexpr std::size_t kTameExpressions = 20;

inline constexpr std::string_view kTexts[] = {
    "text", " ", "\n  ", "é 日本", "&amp;", "}", "\t", "\r\n", "<!-- c -->", "{# t #}", "{##}",
    "<!DOCTYPE html>", "-->", "#}", "a < b", "{", "x}}y",
};
inline constexpr std::size_t kTameTexts = 14;

// Fill-data bindings and other values of special attributes.
inline constexpr std::string_view kBindings[] = {
    "{ item, index }", "{ item as x, **rest }", "d", "{ x }", "row", "{ a as b, a as c }", "{ **rest, a }",
    "{ }", "{ item as item }", "{ 1 as x }", "{ a, b as a }",
};
inline constexpr std::size_t kTameBindings = 5;

inline constexpr std::string_view kNames[] = {"a", "b", "default", "header", "row", "a b", "ａ", ""};
inline constexpr std::size_t kTameNames = 7;

// Values of template-valued attributes (their quotes are chosen to fit).
inline constexpr std::string_view kNestedTemplates[] = {
    "<>{{ x }} <b>t</b></>", "<c-for each=\"x in xs\">{{ x }}</c-for>", "<p c-if=\"x\">a</p>", "<br>",
    "<>  </>", "<c-slot name=\"s\"></c-slot>", "<c-x><c-fill name=\"a\">{{ y }}</c-fill></c-x>",
    "<i c-y='<b>{{ z }}</b>'>w</i>", "<>", "<p>",
};
inline constexpr std::size_t kTameNestedTemplates = 8;

// Attribute keys: ordinary, dynamic, control flow, metadata, client props.
inline constexpr std::string_view kKeys[] = {
    "class", "id", "c-class", "c-title", "title", "hidden", "c-if", "c-elif", "c-else", "c-for", "c-empty",
    "#c-key", "#c-ignore", "#c-other", "name", "c-name", "required", "c-required", "c-bind", "data", "each",
    "cond", "is", "c-is", "$c-props", "$C-Props", "c-$c-props", "@click", "c-@click", "fallback", "c-label",
    "style", "c-style", "data-x",
};
// Tame inputs add only these to the attributes a tag needs.
inline constexpr std::string_view kTameKeys[] = {"class", "id", "c-title", "hidden", "data-x", "c-label"};

class TemplateWriter {
 public:
  // A tame writer picks only what a valid template may use anywhere.
  TemplateWriter(Choices& in, bool tame) : in_(in), tame_(tame) {}

  std::string write() {
    body(0);
    return std::move(out_);
  }

 private:
  static constexpr int kMaxDepth = 6;
  static constexpr std::size_t kMaxChildren = 5;

  void body(int depth) {
    const std::size_t n = in_.byte() % (kMaxChildren + 1);
    std::string_view previous;  // the sibling tag before, if nothing else came between
    for (std::size_t i = 0; i < n && !in_.done(); ++i) previous = child(depth, previous);
  }

  std::string_view child(int depth, std::string_view previous) {
    const std::uint8_t c = in_.byte();
    switch (c % 8) {
      case 0:
        out_ += in_.pick(kTexts, tame_ ? kTameTexts : 0);
        return {};
      case 1:
        out_ += "{{ ";
        out_ += in_.pick(kExpressions, tame_ ? kTameExpressions : 0);
        out_ += " }}";
        return {};
      default:
        return element(depth, previous);
    }
  }

  // The value a key usually takes, or another from the tables.
  std::string_view value_for(std::string_view key, std::uint8_t how) {
    if (how % 4 == 3 && !tame_) {
      switch (in_.byte() % 4) {
        case 0: return in_.pick(kExpressions, tame_ ? kTameExpressions : 0);
        case 1: return in_.pick(kLoops, tame_ ? kTameLoops : 0);
        case 2: return in_.pick(kBindings, tame_ ? kTameBindings : 0);
        default: return in_.pick(kNestedTemplates, tame_ ? kTameNestedTemplates : 0);
      }
    }
    if (key == "c-for" || key == "each") return in_.pick(kLoops, tame_ ? kTameLoops : 0);
    if (key == "data") return in_.pick(kBindings, tame_ ? kTameBindings : 0);
    if (key == "name" || key == "fallback" || key == "c-name") return in_.pick(kNames, tame_ ? kTameNames : 0);
    if (key == "is") return in_.pick(kTags, tame_ ? kTameTags : 0);
    if (key == "c-label" || key == "c-bind" || key == "c-title") {
      return how % 4 == 0 ? in_.pick(kNestedTemplates, tame_ ? kTameNestedTemplates : 0) : in_.pick(kExpressions, tame_ ? kTameExpressions : 0);
    }
    if (key.starts_with("c-") || key.starts_with("#c-") || key == "cond" || key.starts_with("$")) {
      return in_.pick(kExpressions, tame_ ? kTameExpressions : 0);
    }
    return in_.pick(kNames, tame_ ? kTameNames : 0);
  }

  void attribute(std::string_view key) {
    const std::uint8_t how = in_.byte();
    out_ += (how & 0x40) ? "\n  " : " ";
    out_ += key;
    if ((how & 0x30) == 0x30 && !tame_) return;  // bare
    const std::string_view value = value_for(key, how);
    // A quote the value does not hold, else none (an unquoted value).
    const char quote = value.find('"') == std::string_view::npos ? '"'
                       : value.find('\'') == std::string_view::npos ? '\''
                                                                    : '\0';
    out_ += '=';
    if (quote) out_ += quote;
    out_ += value;
    if (quote) out_ += quote;
  }

  std::string_view element(int depth, std::string_view previous) {
    std::string_view tag = in_.pick(kTags, tame_ ? kTameTags : 0);
    // Tame: a chain goes on only after its opening member.
    if (tame_ && (tag == "c-elif" || tag == "c-else") && previous != "c-if" && previous != "c-elif") tag = "c-if";
    if (tame_ && tag == "c-empty" && previous != "c-for") tag = "c-for";
    out_ += '<';
    out_ += tag;
    // The attribute the tag needs first, mostly.
    const std::uint8_t needs = in_.byte();
    if (needs % 4 != 0 || tame_) {
      if (tag == "c-for") attribute("each");
      if (tag == "c-if" || tag == "c-elif") attribute("cond");
      if (tag == "c-fill" || tag == "c-slot") attribute("name");
      if (tag == "c-element" || tag == "c-component") attribute("is");
    }
    // Tame: reserved tags take only what they need, others one more at most.
    const bool reserved = template_ast::is_reserved_tag_name(tag);
    const std::size_t extra = tame_ ? (reserved ? 0 : in_.byte() % 2) : in_.byte() % 4;
    for (std::size_t i = 0; i < extra; ++i) attribute(tame_ ? in_.pick(kTameKeys) : in_.pick(kKeys));
    const bool closes = tame_ ? template_ast::is_void_element(tag) || (tag != "c-raw" && in_.byte() % 5 == 0)
                              : in_.byte() % 5 == 0;
    if (closes || depth >= kMaxDepth) {
      out_ += "/>";
      return tag;
    }
    out_ += '>';
    if (tag == "c-raw") {
      out_ += "{{ raw }} <p>";
    } else {
      body(depth + 1);
    }
    // Now and then a wrong or missing end tag, for the element stack.
    const std::uint8_t end = in_.byte();
    if (end == 0xFF && !tame_) return tag;
    out_ += "</";
    out_ += end == 0xFE && !tame_ ? in_.pick(kTags) : tag;
    out_ += '>';
    return tag;
  }

  Choices& in_;
  bool tame_;
  std::string out_;
};

// The caller's rules: none, or one of two small tables that reach the
// slot, fill-data and attribute checks.
inline std::shared_ptr<const template_parser::UserRules> pick_user_rules(std::uint8_t choice) {
  using template_ast::TagRules;
  static const auto none = std::make_shared<const template_parser::UserRules>();
  static const auto strict = [] {
    template_parser::UserRules rules;
    TagRules card;
    card.allowed_slots = std::vector<std::string>{"a", "b", "default", "row"};
    card.slot_data_fields["a"] = {"item", "index"};
    card.slot_data_fields["b"] = {};
    rules["c-card"] = card;
    TagRules need;
    need.required_slots = {"default", "a"};
    rules["c-need"] = need;
    TagRules two;
    two.allowed_slots = std::vector<std::string>{"a", "b"};
    rules["c-two"] = two;
    TagRules tight;
    tight.allowed_attrs = std::vector<template_ast::AttrGroup>{{"id"}, {"class", "c-class"}};
    tight.required_attrs = {{"id"}};
    rules["my-tag"] = tight;
    rules["c-list"] = tight;
    return std::make_shared<const template_parser::UserRules>(std::move(rules));
  }();
  return choice % 3 == 0 ? none : strict;
}

}  // namespace lumra::fuzz
