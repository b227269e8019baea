// The Python backend's three operations (the only backend that does real work).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pyexpr/parser.h"
#include "template/compiler/backend.h"
#include "template/compiler/ir.h"

namespace lumra::template_compiler {

// The names an expression reads and assigns, and its comments, positioned in `text`.
ParseExpressionResult python_parse_expression(std::string_view text);
// The same through the rewriter's check walk, for every text.
ParseExpressionResult python_parse_expression_in_full(std::string_view text,
                                                      std::uint32_t max_tree_height = pyexpr::kMaxTreeHeight);
// The same for the commonest texts alone, read without the parser: names,
// numbers, plain one-line strings, None/True/False, attribute access, calls,
// indexing and slicing, tuples and lists, arithmetic, comparisons, and/or/not
// and conditional expressions, spaced by spaces, tabs and line feeds.
// Nothing for any other text (then the full parse answers).
std::optional<ParsedExpression> parse_simple_expression(std::string_view text);
// The same, the names viewing into `text`'s buffer.
std::optional<ParsedExpression> parse_simple_expression_sharing(const template_ast::TokenText& text);
// Whether the text is an ASCII name that is no keyword (soft keywords
// included): a text the full parse reads as that one name, decided without it.
bool is_plain_python_name(std::string_view text);
// The names a loop header ("item in items", "x in xs for y in x if y") binds
// and the names its iterables and conditions read, positioned in `each`.
LoopVariablesResult python_extract_loop_variables(std::string_view each);
// A `c-for` value that python_parse_expression refused with `refusal` read as
// an expression whose top levels may pass the height limit, when it holds a
// loop header that python_extract_loop_variables takes; nothing otherwise.
std::optional<ParsedExpression> python_parse_loop_header_past_limit(std::string_view each,
                                                                    const std::string& refusal);
// The source of `def generate_template():` returning the nodes' list.
GenerateResult wrap_generate_template(std::vector<IrNode> nodes);

}  // namespace lumra::template_compiler
