// The parse step shared by the rewriter and the loop-clause extraction.
#include "pyexpr/parser.h"
#include "safe_eval/transform.h"

namespace lumra::safe_eval {

Result<pyexpr::Expr> parse_expression(std::string_view text, std::string_view source, std::uint64_t prefix_len) {
    auto parsed = pyexpr::parse_python_expression(text);
    if (parsed) return std::move(parsed.expr());
    // Only the first error is reported; it prints as "{message} at byte range
    // {start}..{end}", and the rewording shifts that range onto `source`.
    return Result<pyexpr::Expr>::failure(reword_parse_error(parsed.error().to_string(), source, prefix_len));
}

}  // namespace lumra::safe_eval
