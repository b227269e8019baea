#include "template/ast/debug.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "text/debug_escape.h"

namespace lumra::template_ast {

namespace {

void append_u64(std::string& out, std::uint64_t v) {
  std::array<char, 24> buf;
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  (void)ec;
  out.append(buf.data(), end);
}

void append_line_col(std::string& out, const LineCol& lc) {
  out += '(';
  append_u64(out, lc.line);
  out += ", ";
  append_u64(out, lc.column);
  out += ')';
}

void append_node_head(std::string& out, const Node::WithBody& n) {
  out += "WithBody { start_tag: ";
  append_debug(out, n.start_tag);
  out += ", end_tag: ";
  append_debug(out, n.end_tag);
  out += ", body: ";
}

void append_node_tail(std::string& out, const SharedTokens& used,
                      const List<Token>& introduced, const SharedComments& comments,
                      bool contains_fills) {
  out += ", used_variables: ";
  append_debug(out, used);
  out += ", introduced_variables: ";
  append_debug(out, introduced);
  out += ", comments: ";
  append_debug(out, comments);
  out += ", contains_fills: ";
  append_debug(out, contains_fills);
  out += " }";
}

void append_self_closing(std::string& out, const Node::SelfClosing& n) {
  out += "SelfClosing { start_tag: ";
  append_debug(out, n.start_tag);
  append_node_tail(out, n.used_variables, n.introduced_variables, n.comments, n.contains_fills);
}

void append_template_tail(std::string& out, const Template& t) {
  out += "], comments: ";
  append_debug(out, t.comments);
  out += ", used_variables: ";
  append_debug(out, t.used_variables);
  out += ", slots: ";
  append_debug(out, t.slots);
  out += " }";
}

// Prints the parts of a tree that can nest. Work items are pushed in reverse
// order of output; the stack grows with the tree's depth instead of the C++
// call stack.
class TreePrinter {
 public:
  explicit TreePrinter(std::string& out) : out_(out) {}

  void run_template(const Template& t) { run({Kind::TemplateHead, &t}); }
  void run_element(const TemplateElement& e) { run({Kind::Element, &e}); }
  void run_node(const Node& n) { run({Kind::NodeHead, &n}); }

 private:
  enum class Kind { Literal, TemplateHead, TemplateTail, Element, NodeHead, NodeTail };
  struct Item {
    Kind kind;
    const void* ptr;
  };

  void run(Item first) {
    stack_.push_back(first);
    while (!stack_.empty()) {
      Item item = stack_.back();
      stack_.pop_back();
      step(item);
    }
  }

  void step(const Item& item) {
    switch (item.kind) {
      case Kind::Literal:
        out_ += static_cast<const char*>(item.ptr);
        break;
      case Kind::TemplateHead: {
        const auto& t = *static_cast<const Template*>(item.ptr);
        out_ += "Template { elements: [";
        stack_.push_back({Kind::TemplateTail, &t});
        push_elements(t.elements);
        break;
      }
      case Kind::TemplateTail:
        append_template_tail(out_, *static_cast<const Template*>(item.ptr));
        break;
      case Kind::Element: {
        const auto& e = *static_cast<const TemplateElement*>(item.ptr);
        if (const Node* n = e.node()) {
          out_ += "Node(";
          stack_.push_back({Kind::Literal, ")"});
          stack_.push_back({Kind::NodeHead, n});
        } else if (const Expr* x = e.expr()) {
          out_ += "Expr(";
          append_debug(out_, *x);
          out_ += ')';
        } else {
          out_ += "Text(";
          append_debug(out_, *e.text());
          out_ += ')';
        }
        break;
      }
      case Kind::NodeHead: {
        const auto& n = *static_cast<const Node*>(item.ptr);
        if (const auto* wb = n.with_body()) {
          append_node_head(out_, *wb);
          stack_.push_back({Kind::NodeTail, wb});
          stack_.push_back({Kind::TemplateHead, &*wb->body});
        } else {
          append_self_closing(out_, *n.self_closing());
        }
        break;
      }
      case Kind::NodeTail: {
        const auto& wb = *static_cast<const Node::WithBody*>(item.ptr);
        append_node_tail(out_, wb.used_variables, wb.introduced_variables, wb.comments,
                         wb.contains_fills);
        break;
      }
    }
  }

  void push_elements(const List<TemplateElement>& elements) {
    for (std::size_t i = elements.size(); i-- > 0;) {
      stack_.push_back({Kind::Element, &elements[i]});
      if (i) stack_.push_back({Kind::Literal, ", "});
    }
  }

  std::string& out_;
  std::vector<Item> stack_;
};

}  // namespace

// --- escaping -----------------------------------------------------------

void append_debug_str(std::string& out, std::string_view s) { text::append_debug_str(out, s); }

void append_debug_char(std::string& out, char32_t c) { text::append_debug_char(out, c); }

// --- debug forms --------------------------------------------------------

void append_debug(std::string& out, bool v) { out += v ? "true" : "false"; }

void append_debug(std::string& out, char32_t v) { append_debug_char(out, v); }

void append_debug(std::string& out, const Token& v) {
  out += "Token { content: ";
  append_debug_str(out, v.content);
  out += ", start_index: ";
  append_u64(out, v.start_index);
  out += ", end_index: ";
  append_u64(out, v.end_index);
  out += ", line_col: ";
  append_line_col(out, v.line_col);
  out += " }";
}

void append_debug(std::string& out, const Comment& v) {
  out += "Comment { token: ";
  append_debug(out, v.token);
  out += ", value: ";
  append_debug(out, v.value);
  out += " }";
}

void append_debug(std::string& out, const FillDataField& v) {
  out += "FillDataField { source: ";
  append_debug(out, v.source);
  out += ", target: ";
  append_debug(out, v.target);
  out += " }";
}

void append_debug(std::string& out, const FillDataPattern& v) {
  out += "FillDataPattern { token: ";
  append_debug(out, v.token);
  out += ", whole: ";
  append_debug(out, v.whole);
  out += ", fields: ";
  append_debug(out, v.fields);
  out += ", rest: ";
  append_debug(out, v.rest);
  out += " }";
}

std::string_view kind_name(HtmlAttrKind v) {
  switch (v) {
    case HtmlAttrKind::Static: return "Static";
    case HtmlAttrKind::Expression: return "Expression";
    case HtmlAttrKind::Template: return "Template";
    case HtmlAttrKind::Meta: return "Meta";
  }
  return "Static";
}

void append_debug(std::string& out, HtmlAttrKind v) { out += kind_name(v); }

void append_debug(std::string& out, const HtmlAttr& v) {
  out += "HtmlAttr { token: ";
  append_debug(out, v.token);
  out += ", key: ";
  append_debug(out, v.key);
  out += ", value: ";
  append_debug(out, v.value);
  out += ", inner_value: ";
  append_debug(out, v.inner_value);
  out += ", quote_char: ";
  append_debug(out, v.quote_char);
  out += ", kind: ";
  append_debug(out, v.kind);
  out += ", comments: ";
  append_debug(out, v.comments);
  out += ", used_variables: ";
  append_debug(out, v.used_variables);
  out += ", fill_data_pattern: ";
  append_debug(out, v.fill_data_pattern);
  out += " }";
}

void append_debug(std::string& out, const HtmlStartTag& v) {
  out += "HtmlStartTag { token: ";
  append_debug(out, v.token);
  out += ", name: ";
  append_debug(out, v.name);
  out += ", attrs: ";
  append_debug(out, v.attrs);
  out += ", is_self_closing: ";
  append_debug(out, v.is_self_closing);
  out += ", comments: ";
  append_debug(out, v.comments);
  out += " }";
}

void append_debug(std::string& out, const HtmlEndTag& v) {
  out += "HtmlEndTag { token: ";
  append_debug(out, v.token);
  out += ", name: ";
  append_debug(out, v.name);
  out += ", comments: ";
  append_debug(out, v.comments);
  out += " }";
}

void append_debug(std::string& out, const Text& v) {
  out += "Text { token: ";
  append_debug(out, v.token);
  out += " }";
}

void append_debug(std::string& out, const Expr& v) {
  out += "Expr { token: ";
  append_debug(out, v.token);
  out += ", value: ";
  append_debug(out, v.value);
  out += ", used_variables: ";
  append_debug(out, v.used_variables);
  out += ", comments: ";
  append_debug(out, v.comments);
  out += " }";
}

void append_debug(std::string& out, const StaticNamedSlot& v) {
  out += "StaticNamedSlot { token: ";
  append_debug(out, v.token);
  out += ", required: ";
  append_debug(out, v.required);
  out += " }";
}

void append_debug(std::string& out, const Node& v) { TreePrinter(out).run_node(v); }

void append_debug(std::string& out, const TemplateElement& v) { TreePrinter(out).run_element(v); }

void append_debug(std::string& out, const Template& v) { TreePrinter(out).run_template(v); }

// --- reprs --------------------------------------------------------------

std::string repr(const Token& v) {
  std::string out = "Token(content='";
  out += v.content;
  out += "', start_index=";
  append_u64(out, v.start_index);
  out += ", end_index=";
  append_u64(out, v.end_index);
  out += ", line_col=";
  append_line_col(out, v.line_col);
  out += ')';
  return out;
}

std::string repr(const Comment& v) {
  std::string out = "Comment(token=";
  append_debug(out, v.token);
  out += ", value=";
  append_debug(out, v.value);
  out += ')';
  return out;
}

std::string repr(const FillDataField& v) {
  std::string out = "FillDataField(source=";
  append_debug(out, v.source);
  out += ", target=";
  append_debug(out, v.target);
  out += ')';
  return out;
}

std::string repr(const FillDataPattern& v) {
  std::string out = "FillDataPattern(token=";
  append_debug(out, v.token);
  out += ", whole=";
  append_debug(out, v.whole);
  out += ", fields=";
  append_debug(out, v.fields);
  out += ", rest=";
  append_debug(out, v.rest);
  out += ')';
  return out;
}

std::string repr(HtmlAttrKind v) {
  std::string out = "HtmlAttrKind::";
  out += kind_name(v);
  return out;
}

std::string repr(const HtmlAttr& v) {
  std::string out = "HtmlAttr(token=";
  append_debug(out, v.token);
  out += ", key=";
  append_debug(out, v.key);
  out += ", value=";
  append_debug(out, v.value);
  out += ", inner_value=";
  append_debug(out, v.inner_value);
  out += ", quote_char=";
  append_debug(out, v.quote_char);
  out += ", kind=";
  append_debug(out, v.kind);
  out += ", comments=";
  append_debug(out, v.comments);
  out += ", used_variables=";
  append_debug(out, v.used_variables);
  out += ", fill_data_pattern=";
  append_debug(out, v.fill_data_pattern);
  out += ')';
  return out;
}

std::string repr(const HtmlStartTag& v) {
  std::string out = "HtmlStartTag(token=";
  append_debug(out, v.token);
  out += ", name=";
  append_debug(out, v.name);
  out += ", attrs=";
  append_debug(out, v.attrs);
  out += ", is_self_closing=";
  append_debug(out, v.is_self_closing);
  out += ", comments=";
  append_debug(out, v.comments);
  out += ')';
  return out;
}

std::string repr(const HtmlEndTag& v) {
  std::string out = "HtmlEndTag(token=";
  append_debug(out, v.token);
  out += ", name=";
  append_debug(out, v.name);
  out += ", comments=";
  append_debug(out, v.comments);
  out += ')';
  return out;
}

std::string repr(const Text& v) {
  std::string out = "Text(token=";
  append_debug(out, v.token);
  out += ')';
  return out;
}

std::string repr(const Expr& v) {
  std::string out = "Expr(token=";
  append_debug(out, v.token);
  out += ", value=";
  append_debug(out, v.value);
  out += ", used_variables=";
  append_debug(out, v.used_variables);
  out += ", comments=";
  append_debug(out, v.comments);
  out += ')';
  return out;
}

std::string repr(const StaticNamedSlot& v) {
  std::string out = "StaticNamedSlot(token=";
  append_debug(out, v.token);
  out += ", required=";
  append_debug(out, v.required);
  out += ')';
  return out;
}

// `contains_fills` is not part of a node's repr.
std::string repr(const Node& v) {
  std::string out;
  if (const auto* wb = v.with_body()) {
    out += "Node::WithBody(start_tag=";
    append_debug(out, wb->start_tag);
    out += ", end_tag=";
    append_debug(out, wb->end_tag);
    out += ", body=";
    append_debug(out, *wb->body);
  } else {
    out += "Node::SelfClosing(start_tag=";
    append_debug(out, v.self_closing()->start_tag);
  }
  out += ", used_variables=";
  append_debug(out, v.used_variables());
  out += ", introduced_variables=";
  append_debug(out, v.introduced_variables());
  out += ", comments=";
  append_debug(out, v.comments());
  out += ')';
  return out;
}

std::string repr(const TemplateElement& v) {
  std::string out = "TemplateElement::";
  if (const Node* n = v.node()) {
    out += "Node(";
    append_debug(out, *n);
  } else if (const Expr* e = v.expr()) {
    out += "Expr(";
    append_debug(out, *e);
  } else {
    out += "Text(";
    append_debug(out, *v.text());
  }
  out += ')';
  return out;
}

// `comments` is not part of a template's repr.
std::string repr(const Template& v) {
  std::string out = "Template(elements=[";
  for (std::size_t i = 0; i < v.elements.size(); ++i) {
    if (i) out += ", ";
    append_debug(out, v.elements[i]);
  }
  out += "], used_variables=";
  append_debug(out, v.used_variables);
  out += ", slots=";
  append_debug(out, v.slots);
  out += ')';
  return out;
}

}  // namespace lumra::template_ast
