// transform_expression: wrap, parse, rewrite, then report names and comments in
// the caller's coordinates.
#include "safe_eval/transform.h"

#include <algorithm>

#include "safe_eval/comments.h"
#include "safe_eval/rewrite.h"
#include "safe_eval/sandbox_print.h"
#include "text/line_cursor.h"

namespace lumra::safe_eval {

namespace {

// "(" and a line feed: line n of the source is line n + 1 of the wrapped text and
// every column is unchanged.
constexpr std::string_view kOpen = "(\n";
constexpr std::string_view kClose = "\n)";
constexpr std::uint64_t kPrefixLen = kOpen.size();

constexpr std::uint64_t below_prefix(std::uint64_t offset) { return offset > kPrefixLen ? offset - kPrefixLen : 0; }

// Lines and columns in the caller's coordinates. Offsets are asked in
// increasing order within each list, so each costs only its distance from
// the last one, however long a line is.
class Positions {
public:
    explicit Positions(std::string_view wrapped)
        : wrapped_(wrapped), cursor_(wrapped, text::LineCursor::Breaks::LfCrCrlf) {}

    // The wrapped text's first line is the opening "(": line n of the source is
    // its line n + 1, with every column unchanged.
    ExprToken token(std::string content, std::uint64_t start, std::uint64_t end) {
        const auto at = cursor_.at(static_cast<std::size_t>(start));
        return ExprToken{std::move(content), below_prefix(start), below_prefix(end), at.line - 1, at.column};
    }

    // Recorded ranges slice the wrapped text; one that cannot keeps the name.
    ExprToken name_token(const RecordedName& rec) {
        std::string content = rec.start < rec.end && rec.end <= wrapped_.size()
                                  ? std::string(wrapped_.substr(rec.start, rec.end - rec.start))
                                  : rec.name.str();
        return token(std::move(content), rec.start, rec.end);
    }

private:
    std::string_view wrapped_;
    text::LineCursor cursor_;
};

// By start offset in the caller's text; names at one offset keep their walk
// order. Walk order is nearly always position order already.
std::vector<ExprToken> sorted_tokens(const std::vector<RecordedName>& names, std::string_view wrapped) {
    std::vector<const RecordedName*> order;
    order.reserve(names.size());
    for (const auto& rec : names) order.push_back(&rec);
    const auto by_start = [](const RecordedName* a, const RecordedName* b) {
        return below_prefix(a->start) < below_prefix(b->start);
    };
    if (!std::is_sorted(order.begin(), order.end(), by_start)) std::stable_sort(order.begin(), order.end(), by_start);
    Positions positions(wrapped);
    std::vector<ExprToken> out;
    out.reserve(names.size());
    for (const RecordedName* rec : order) out.push_back(positions.name_token(*rec));
    return out;
}

// Wraps, parses and rewrites; on success `wrapped` holds the text the tree's
// ranges refer to and `state` the names met on the way.
Result<pyexpr::Expr> wrap_and_rewrite(std::string_view source, std::string& wrapped, RewriteState& state,
                                      std::uint32_t max_tree_height = pyexpr::kMaxTreeHeight) {
    wrapped.reserve(source.size() + kOpen.size() + kClose.size());
    wrapped.append(kOpen).append(source).append(kClose);

    auto parsed = parse_expression(wrapped, source, kPrefixLen, Wrapping::MustEnclose, max_tree_height);
    if (!parsed) return parsed;
    // The parse result is ours alone, so it is rewritten where it stands.
    if (!visit_expr(state, parsed.value())) return Result<pyexpr::Expr>::failure(std::move(*state.failure));
    if (state.error) return Result<pyexpr::Expr>::failure(std::move(*state.error));
    if (state.starred_field) {
        return Result<pyexpr::Expr>::failure(parse_error_message(
            pyexpr::ParseErrorType::Kind::InvalidStarredExpressionUsage, *state.starred_field, source, kPrefixLen));
    }
    return parsed;
}

// The names the walk recorded and the comments of the text, in the caller's
// coordinates, into `out` (a TransformResult or an ExpressionScan).
template <class Out>
void report_names(const RewriteState& state, std::string_view wrapped, Out& out) {
    out.used_variables = sorted_tokens(state.used_names, wrapped);
    out.assigned_variables = sorted_tokens(state.assigned_names, wrapped);
    Positions positions(wrapped);
    const auto comments = scan_comments(wrapped);
    out.comments.reserve(comments.size());
    for (const auto& c : comments) {
        const std::string_view whole = wrapped.substr(c.hash, c.end - c.hash);
        out.comments.push_back(ExprComment{
            .token = positions.token(std::string(whole), c.hash, c.end),
            .value = positions.token(std::string(whole.substr(1)), c.hash + 1, c.end),
        });
    }
}

}  // namespace

Result<pyexpr::Expr> rewrite_expression(std::string_view source) {
    std::string wrapped;
    RewriteState state(kPrefixLen);
    state.record_names = false;
    return wrap_and_rewrite(source, wrapped, state);
}

Result<std::string> sandbox_source(std::string_view source) {
    std::string wrapped;
    RewriteState state(kPrefixLen);
    state.record_names = false;
    state.build_tree = false;
    auto checked = wrap_and_rewrite(source, wrapped, state);
    if (!checked) return Result<std::string>::failure(std::move(checked).error());
    // Every name becomes a call of some forty characters: the text grows about
    // tenfold, and one allocation up front spares the regrowths.
    return print_sandboxed(checked.value(), wrapped, std::move(state.kept_names), kPrefixLen,
                           source.size() * 10 + 128);
}

Result<ExpressionScan> scan_expression(std::string_view source, std::uint32_t max_tree_height) {
    std::string wrapped;
    RewriteState state(kPrefixLen);
    state.build_tree = false;
    auto checked = wrap_and_rewrite(source, wrapped, state, max_tree_height);
    if (!checked) return Result<ExpressionScan>::failure(std::move(checked).error());
    ExpressionScan scan;
    report_names(state, wrapped, scan);
    return scan;
}

Result<TransformResult> transform_expression(std::string_view source) {
    std::string wrapped;
    RewriteState state(kPrefixLen);
    auto rewritten = wrap_and_rewrite(source, wrapped, state);
    if (!rewritten) return Result<TransformResult>::failure(std::move(rewritten).error());
    TransformResult result;
    result.expression = std::move(rewritten).value();
    report_names(state, wrapped, result);
    return result;
}

}  // namespace lumra::safe_eval
