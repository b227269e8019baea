// The value tree as Python source: one output buffer, written depth-first.
//
// Template text goes out in triple-quoted strings and names in double-quoted
// ones, escaped so that no text can end its literal or break the source:
// whatever a template holds, the generated function compiles and runs only
// the calls the compiler wrote.
#include "template/compiler/render_python.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "template/compiler/python_backend.h"
#include "text/byte_search.h"

namespace lumra::template_compiler {
namespace {

// Writes into a buffer it sizes itself: most pieces are a few bytes (", ",
// a quote, a bracket), and a string's own append costs a call each.
class PythonWriter {
 public:
  explicit PythonWriter(std::string_view head = {}) { put(head); }

  // The text written, once the writer is done.
  std::string take() && { return std::string(buffer_.get(), pos_); }

  void value(const IrNode& node) {
    switch (node.kind()) {
      case IrNode::Kind::Raw:
        put(node.text());
        break;
      case IrNode::Kind::Str:
        put(R"(""")");
        escaped(node.text(), false);
        put(R"(""")");
        break;
      case IrNode::Kind::QuotedStr:
        put('"');
        escaped(node.text(), true);
        put('"');
        break;
      case IrNode::Kind::Int:
        put_decimal(node.number());
        break;
      case IrNode::Kind::Span:
        put('(');
        put_decimal(node.number());
        put(", ");
        put_decimal(node.span_end());
        put(",)");
        break;
      case IrNode::Kind::Bool:
        if (node.flag()) {
          put("True");
        } else {
          put("False");
        }
        break;
      case IrNode::Kind::Tuple:
        sequence(node.items(), '(', ')', true);
        break;
      case IrNode::Kind::List:
        sequence(node.items(), '[', ']', true);
        break;
      case IrNode::Kind::Call:
        put(node.text());
        sequence(node.items(), '(', ')', false);
        break;
    }
  }

  // Items joined by ", "; a tuple or list ends with a comma ("(x,)").
  void sequence(std::span<const IrNode> items, char open, char close, bool trailing_comma) {
    put(open);
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i > 0) put(", ");
      value(items[i]);
    }
    if (trailing_comma && !items.empty()) put(',');
    put(close);
  }

  void put(std::string_view text) {
    const std::size_t n = text.size();
    reserve(n);
    char* to = buffer_.get() + pos_;
    const char* from = text.data();
    // Most pieces are short: two overlapping moves copy them without a call.
    if (n >= 8 && n <= 16) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n < 4) {
      for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    } else {
      std::memcpy(to, from, n);
    }
    pos_ += n;
  }

  // A literal's length is known here, so the copy is a few moves, not a call.
  template <std::size_t N>
  void put(const char (&literal)[N]) {
    reserve(N - 1);
    std::memcpy(buffer_.get() + pos_, literal, N - 1);
    pos_ += N - 1;
  }

  void put(char c) {
    reserve(1);
    buffer_[pos_++] = c;
  }

 private:
  void reserve(std::size_t more) {
    if (capacity_ - pos_ >= more) [[likely]] return;
    grow(more);
  }

  // Doubles the buffer (at least): it is never cleared, only written.
  void grow(std::size_t more) {
    if (more > std::numeric_limits<std::size_t>::max() / 2 - pos_) throw std::bad_alloc();
    const std::size_t capacity = std::max(2 * capacity_, pos_ + more + 1024);
    auto larger = std::make_unique_for_overwrite<char[]>(capacity);
    if (pos_ > 0) std::memcpy(larger.get(), buffer_.get(), pos_);
    buffer_ = std::move(larger);
    capacity_ = capacity;
  }

  // Backslash, double quote, carriage return (which the tokenizer reads as a
  // line end) and NUL (which compile() refuses) are escaped; in a one-line
  // literal the line feed too. Every other character stands as itself.
  void escaped(std::string_view text, bool one_line) {
    std::size_t run = 0;
    for (std::size_t i = next_escape(text, 0, one_line); i < text.size(); i = next_escape(text, i + 1, one_line)) {
      put(text.substr(run, i - run));
      switch (text[i]) {
        case '\\': put(R"(\\)"); break;
        case '"': put(R"(\")"); break;
        case '\r': put(R"(\r)"); break;
        case '\0': put(R"(\x00)"); break;
        default: put(R"(\n)"); break;
      }
      run = i + 1;
    }
    put(text.substr(run));
  }

  // The next byte from `from` that `escaped` rewrites. Most text needs no
  // escape, so the search skips runs of it at once.
  static std::size_t next_escape(std::string_view s, std::size_t from, bool one_line) {
    return one_line ? text::find_first_of_bytes(s, from, '\\', '"', '\r', '\0', '\n')
                    : text::find_first_of_bytes(s, from, '\\', '"', '\r', '\0');
  }

  void put_decimal(std::uint64_t n) {
    char digits[20];
    const auto written = std::to_chars(digits, digits + sizeof digits, n);
    put(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
  }

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::string> python_render_values(std::span<const IrNode> nodes) {
  std::vector<std::string> texts;
  texts.reserve(nodes.size());
  for (const IrNode& node : nodes) {
    PythonWriter writer;
    writer.value(node);
    texts.push_back(std::move(writer).take());
  }
  return texts;
}

std::string python_literal_list(std::span<const IrNode> nodes) {
  PythonWriter writer;
  writer.sequence(nodes, '[', ']', true);
  return std::move(writer).take();
}

GenerateResult wrap_generate_template(std::vector<IrNode> nodes) {
  // The writer recurses once per bracket: a tree that was not built by the
  // compiler is held to the same bound.
  for (const IrNode& node : nodes) {
    if (node.depth() + 1 > kMaxBracketDepth) return nested_too_deeply();
  }
  PythonWriter writer("def generate_template():\n    body = ");
  writer.sequence(nodes, '[', ']', true);
  writer.put("\n    return body\n");
  return std::move(writer).take();
}

}  // namespace lumra::template_compiler
