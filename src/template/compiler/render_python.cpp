// The value tree as Python source: one output buffer, written depth-first.
//
// Template text goes out in triple-quoted strings and names in double-quoted
// ones, escaped so that no text can end its literal or break the source:
// whatever a template holds, the generated function compiles and runs only
// the calls the compiler wrote.
#include "template/compiler/render_python.h"

#include <algorithm>
#include <array>

#include "template/compiler/python_backend.h"

namespace lumra::template_compiler {
namespace {

class PythonWriter {
 public:
  explicit PythonWriter(std::string& out) : out_(out) {}

  void value(const IrNode& node) {
    switch (node.kind()) {
      case IrNode::Kind::Raw:
        out_.append(node.text());
        break;
      case IrNode::Kind::Str:
        out_.append(R"(""")");
        escaped(node.text(), false);
        out_.append(R"(""")");
        break;
      case IrNode::Kind::QuotedStr:
        out_.push_back('"');
        escaped(node.text(), true);
        out_.push_back('"');
        break;
      case IrNode::Kind::Int:
        append_decimal(node.number());
        break;
      case IrNode::Kind::Span:
        out_.push_back('(');
        append_decimal(node.number());
        out_.append(", ");
        append_decimal(node.span_end());
        out_.append(",)");
        break;
      case IrNode::Kind::Bool:
        out_.append(node.flag() ? "True" : "False");
        break;
      case IrNode::Kind::Tuple:
        sequence(node.items(), '(', ')', true);
        break;
      case IrNode::Kind::List:
        sequence(node.items(), '[', ']', true);
        break;
      case IrNode::Kind::Call:
        out_.append(node.text());
        sequence(node.items(), '(', ')', false);
        break;
    }
  }

  // Items joined by ", "; a tuple or list ends with a comma ("(x,)").
  void sequence(std::span<const IrNode> items, char open, char close, bool trailing_comma) {
    out_.push_back(open);
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) out_.append(", ");
      value(items[i]);
    }
    if (trailing_comma && !items.empty()) out_.push_back(',');
    out_.push_back(close);
  }

 private:
  // Backslash, double quote, carriage return (which the tokenizer reads as a
  // line end) and NUL (which compile() refuses) are escaped; in a one-line
  // literal the line feed too. Every other character stands as itself.
  void escaped(std::string_view text, bool one_line) {
    const unsigned char stop = one_line ? kOneLine : kAnyLine;
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      // Most text needs no escape: one table test per byte.
      if ((kEscapes[static_cast<unsigned char>(text[i])] & stop) == 0) continue;
      out_.append(text.substr(run, i - run));
      switch (text[i]) {
        case '\\': out_.append(R"(\\)"); break;
        case '"': out_.append(R"(\")"); break;
        case '\r': out_.append(R"(\r)"); break;
        case '\0': out_.append(R"(\x00)"); break;
        default: out_.append(R"(\n)"); break;
      }
      run = i + 1;
    }
    out_.append(text.substr(run));
  }

  static constexpr unsigned char kAnyLine = 1;  // escaped in every literal
  static constexpr unsigned char kOneLine = 3;  // and those escaped on one line
  static constexpr std::array<unsigned char, 256> kEscapes = [] {
    std::array<unsigned char, 256> table{};
    for (const unsigned char c : {'\\', '"', '\r', '\0'}) table[c] = kAnyLine;
    table['\n'] = 2;
    return table;
  }();

  void append_decimal(std::uint64_t n) {
    char digits[20];
    std::size_t len = 0;
    do {
      digits[len++] = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n != 0);
    std::reverse(digits, digits + len);
    out_.append(digits, len);
  }

  std::string& out_;
};

}  // namespace

std::vector<std::string> python_render_values(std::span<const IrNode> nodes) {
  std::vector<std::string> texts;
  texts.reserve(nodes.size());
  for (const IrNode& node : nodes) {
    std::string& text = texts.emplace_back();
    PythonWriter(text).value(node);
  }
  return texts;
}

std::string python_literal_list(std::span<const IrNode> nodes) {
  std::string out;
  PythonWriter(out).sequence(nodes, '[', ']', true);
  return out;
}

GenerateResult wrap_generate_template(std::vector<IrNode> nodes) {
  // The writer recurses once per bracket: a tree that was not built by the
  // compiler is held to the same bound.
  for (const IrNode& node : nodes) {
    if (node.depth() + 1 > kMaxBracketDepth) return nested_too_deeply();
  }
  std::string out = "def generate_template():\n    body = ";
  PythonWriter(out).sequence(nodes, '[', ']', true);
  out.append("\n    return body\n");
  return out;
}

}  // namespace lumra::template_compiler
