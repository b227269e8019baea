// String literals: decoding of each literal, the elements of f-strings and
// t-strings (literal stretches and replacement fields), and the implicit
// concatenation of adjacent literals into one node.
#include <algorithm>
#include <optional>
#include <variant>

#include "pyexpr/parser_impl.h"
#include "pyexpr/string_decode.h"

namespace lumra::pyexpr::parser_detail {

namespace {

using Kind = ParseErrorType::Kind;

ParseErrorType interpolated_error(bool is_tstring, InterpolatedStringErrorType error) {
    return is_tstring ? ParseErrorType::tstring(error) : ParseErrorType::fstring(error);
}

// The elements of one f-string, t-string or format spec.
struct ParsedElements {
    std::vector<InterpolatedStringElement> elements;
    uint32_t height = 0;
};

// One literal of a run of adjacent literals.
using StringPart = std::variant<StringLiteral, BytesLiteral, FString, TString>;

TextRange part_range(const StringPart& part) {
    return std::visit([](const auto& p) { return p.range; }, part);
}

// The empty literal that stands in for a part that does not fit the result.
StringLiteral invalid_string_literal(TextRange range) { return StringLiteral{range, {}, std::string(), StringLiteralFlags{}}; }

class InterpolatedStringParser {
public:
    InterpolatedStringParser(Parser& parser, StringTokenFlags flags)
        : p_(parser), flags_(flags), is_tstring_(flags.is_tstring()) {}

    // The elements up to the end token (or, in a format spec, up to the `}`).
    ParsedElements parse_elements(ListKind kind) {
        ParsedElements out;
        ContextScope scope(p_, kind);
        const TokenKind middle = is_tstring_ ? TokenKind::TStringMiddle : TokenKind::FStringMiddle;
        uint32_t last_token_id = UINT32_MAX;
        while (p_.check_progress(last_token_id)) {
            const TokenKind current = p_.current_kind();
            const bool is_middle = current == middle || (kind == ListKind::FormatSpecElements &&
                                                         (current == TokenKind::FStringMiddle ||
                                                          current == TokenKind::TStringMiddle));
            if (is_middle) {
                out.elements.emplace_back(parse_literal_element(current));
                out.height = std::max(out.height, 1u);
                continue;
            }
            if (current == TokenKind::Lbrace) {
                uint32_t height = 0;
                out.elements.emplace_back(parse_interpolated_element(height));
                out.height = std::max(out.height, height);
                continue;
            }
            if (p_.is_list_terminator(kind)) break;
            if (p_.is_enclosing_list_token()) {
                p_.re_lex_logical_token();
                break;
            }
            p_.add_error(ParseErrorType::other(std::string(list_error_text(kind))), p_.current_range());
            p_.bump_any();
        }
        return out;
    }

private:
    // Pushes a recovery flag for the duration of an element list.
    struct ContextScope {
        ContextScope(Parser& p, ListKind kind) : p(p), saved(p.push_recovery_context(kind)) {}
        ~ContextScope() { p.restore_recovery_context(saved); }
        Parser& p;
        uint32_t saved;
    };

    InterpolatedStringElement parse_literal_element(TokenKind kind) {
        const TextRange range = p_.current_range();
        p_.bump(kind);
        std::string value;
        if (auto error =
                decode_interpolated_literal(p_.src_text(range), range.start(), flags_, value, p_.named_escapes())) {
            p_.add_error(ParseErrorType::from_lexical(std::move(error->error)), error->location);
            value.clear();
        }
        return InterpolatedStringLiteralElement{range, {}, std::move(value)};
    }

    InterpolatedStringElement parse_interpolated_element(uint32_t& height) {
        const TextSize start = p_.node_start();
        p_.bump(TokenKind::Lbrace);
        const TextSize after_brace = TextSize(start.raw + 1);
        if (p_.at(TokenKind::String)) p_.re_lex_string_token_in_interpolation_element();

        ParsedExpr expression = p_.parse_expression_list(ExpressionContext{
            ExpressionContext::kAllowStarred | ExpressionContext::kStarredBitwiseOr | ExpressionContext::kAllowYield});
        if (expression.expr.is<ExprLambda>() && !expression.is_parenthesized) {
            p_.add_error(interpolated_error(is_tstring_, InterpolatedStringErrorType::LambdaWithoutParentheses),
                         expression.expr.range());
        }
        height = expression.height;

        std::optional<DebugText> debug_text;
        if (p_.at(TokenKind::Equal)) {
            const TextRange expr_range = expression.expr.range();
            p_.bump(TokenKind::Equal);
            const TextSize leading_end = std::max(after_brace, expr_range.start());
            const TextSize trailing_start = std::max(leading_end, expr_range.end());
            const TextSize trailing_end = std::max(trailing_start, p_.current_range().start());
            debug_text = DebugText{std::string(p_.src_text(TextRange(after_brace, leading_end))),
                                   std::string(p_.src_text(TextRange(trailing_start, trailing_end)))};
        }

        ConversionFlag conversion = ConversionFlag::None;
        if (p_.at(TokenKind::Exclamation)) {
            const TextSize exclamation_end = p_.current_range().end();
            p_.bump(TokenKind::Exclamation);
            if (p_.at(TokenKind::String)) p_.re_lex_raw_string_in_format_spec();
            if (!p_.at(TokenKind::Name)) {
                p_.add_error(interpolated_error(is_tstring_, InterpolatedStringErrorType::InvalidConversionFlag),
                             p_.current_range());
            } else {
                const TextRange name_range = p_.current_range();
                if (name_range.start() != exclamation_end) {
                    p_.add_error(interpolated_error(is_tstring_,
                                                    InterpolatedStringErrorType::ConversionFlagNotRightAfterExclamation),
                                 TextRange(exclamation_end, name_range.start()));
                }
                const std::string_view letter = p_.src_text(name_range);
                if (letter == "s") {
                    conversion = ConversionFlag::Str;
                } else if (letter == "r") {
                    conversion = ConversionFlag::Repr;
                } else if (letter == "a") {
                    conversion = ConversionFlag::Ascii;
                } else {
                    p_.add_error(interpolated_error(is_tstring_, InterpolatedStringErrorType::InvalidConversionFlag),
                                 name_range);
                }
                p_.bump(TokenKind::Name);
            }
        }

        std::optional<InterpolatedStringFormatSpec> format_spec;
        if (p_.at(TokenKind::Colon)) {
            const TextSize spec_start = p_.node_start();
            p_.bump(TokenKind::Colon);
            // Replacement fields in format specs nest (`{x:{y:{z}}}`) by recursion
            // that no expression rule guards.
            DepthGuard guard(p_);
            ParsedElements spec = guard.ok() ? parse_elements(ListKind::FormatSpecElements) : ParsedElements{};
            height = std::max(height, spec.height + 1);
            format_spec = InterpolatedStringFormatSpec{p_.node_range(spec_start), {}, std::move(spec.elements)};
        }

        if (p_.at(TokenKind::String)) p_.re_lex_string_token_in_interpolation_element();
        if (!p_.eat(TokenKind::Rbrace)) {
            p_.add_error(interpolated_error(is_tstring_, InterpolatedStringErrorType::UnclosedLbrace),
                         p_.current_range());
        }
        height += 1;
        return InterpolatedElement{p_.node_range(start), {}, boxed(std::move(expression.expr)), std::move(debug_text),
                                   conversion, std::move(format_spec)};
    }

    Parser& p_;
    StringTokenFlags flags_;
    bool is_tstring_;
};

}  // namespace

// One f-string or t-string, from its start token to its end token.
template <class Node>
static std::pair<Node, uint32_t> parse_interpolated_string(Parser& p) {
    constexpr bool kIsTString = std::is_same_v<Node, TString>;
    const TokenKind start_kind = kIsTString ? TokenKind::TStringStart : TokenKind::FStringStart;
    const TokenKind end_kind = kIsTString ? TokenKind::TStringEnd : TokenKind::FStringEnd;
    const TextSize start = p.node_start();
    StringTokenFlags flags = p.current_flags();
    p.bump(start_kind);

    InterpolatedStringParser inner(p, flags);
    ParsedElements parsed =
        inner.parse_elements(kIsTString ? ListKind::TStringElements : ListKind::FStringElements);

    if (!p.eat(end_kind)) {
        flags = flags.with(StringTokenFlags::kUnclosed);
        p.add_error(ParseErrorType::expected_token(end_kind, p.current_kind()), p.current_range());
    }
    Node node{};
    node.range = p.node_range(start);
    node.elements = std::move(parsed.elements);
    if constexpr (kIsTString) {
        node.flags = tstring_flags(flags);
    } else {
        node.flags = fstring_flags(flags);
    }
    return {std::move(node), parsed.height + 1};
}

ParsedExpr Parser::parse_strings() {
    const TextSize start = node_start();
    std::vector<StringPart> parts;
    uint32_t height = 0;
    size_t bytes_count = 0;
    size_t tstring_count = 0;
    bool has_fstring = false;

    uint32_t last_token_id = UINT32_MAX;
    while ((at(TokenKind::String) || at(TokenKind::FStringStart) || at(TokenKind::TStringStart)) &&
           check_progress(last_token_id)) {
        if (at(TokenKind::String)) {
            const TextRange range = current_range();
            const StringTokenFlags flags = current_flags();
            TokenValue value = take_value();
            bump(TokenKind::String);
            std::string_view body;
            if (auto* raw = std::get_if<StringTokenValue>(&value)) body = raw->raw;
            const TextSize body_start = TextSize(std::min(range.start().raw + flags.opener_len(), range.end().raw));
            // A literal that fails to decode is recorded and kept as an empty
            // one, so that the rest of the run still joins.
            std::string decoded;
            auto record = [&](std::optional<LexicalError> error) {
                if (!error) return;
                add_error(ParseErrorType::from_lexical(std::move(error->error)), error->location);
                decoded.clear();
            };
            if (flags.is_bytes()) {
                ++bytes_count;
                record(decode_bytes(body, body_start, flags, decoded));
                parts.emplace_back(BytesLiteral{range, {}, std::move(decoded), bytes_literal_flags(flags)});
            } else {
                record(decode_string(body, body_start, flags, decoded, named_escapes()));
                parts.emplace_back(StringLiteral{range, {}, std::move(decoded), string_literal_flags(flags)});
            }
            height = std::max(height, 1u);
        } else if (at(TokenKind::FStringStart)) {
            auto [fstring, h] = parse_interpolated_string<FString>(*this);
            parts.emplace_back(std::move(fstring));
            has_fstring = true;
            height = std::max(height, h);
        } else {
            auto [tstring, h] = parse_interpolated_string<TString>(*this);
            parts.emplace_back(std::move(tstring));
            ++tstring_count;
            height = std::max(height, h);
        }
    }

    const TextRange range = node_range(start);
    height = height_above(height);

    if (parts.empty()) {
        // Only reachable when the parse was stopped before the first literal.
        return ParsedExpr{Expr(ExprStringLiteral{{}, range, StringLiteralValue{invalid_string_literal(range)}}), false,
                          height};
    }
    if (parts.size() == 1) {
        StringPart& only = parts.front();
        if (auto* string = std::get_if<StringLiteral>(&only)) {
            return ParsedExpr{Expr(ExprStringLiteral{{}, range, StringLiteralValue{std::move(*string)}}), false, height};
        }
        if (auto* bytes = std::get_if<BytesLiteral>(&only)) {
            return ParsedExpr{Expr(ExprBytesLiteral{{}, range, BytesLiteralValue{std::move(*bytes)}}), false, height};
        }
        if (auto* fstring = std::get_if<FString>(&only)) {
            return ParsedExpr{Expr(ExprFString{{}, range, FStringValue{FStringValuePart(std::move(*fstring))}}), false,
                              height};
        }
        return ParsedExpr{Expr(ExprTString{{}, range, TStringValue{std::move(std::get<TString>(only))}}), false,
                          height};
    }

    if (bytes_count > 0) {
        if (bytes_count == parts.size()) {
            std::vector<BytesLiteral> all;
            all.reserve(parts.size());
            for (StringPart& part : parts) all.push_back(std::move(std::get<BytesLiteral>(part)));
            return ParsedExpr{Expr(ExprBytesLiteral{{}, range, BytesLiteralValue{std::move(all)}}), false, height};
        }
        add_error(ParseErrorType::other("Bytes literal cannot be mixed with non-bytes literals"), range);
    }
    if (tstring_count > 0) {
        if (tstring_count == parts.size()) {
            std::vector<TString> all;
            all.reserve(parts.size());
            for (StringPart& part : parts) all.push_back(std::move(std::get<TString>(part)));
            return ParsedExpr{Expr(ExprTString{{}, range, TStringValue{std::move(all)}}), false, height};
        }
        add_error(ParseErrorType::other("cannot mix t-string literals with string or bytes literals"), range);
    }
    if (!has_fstring && tstring_count == 0) {
        std::vector<StringLiteral> strings;
        strings.reserve(parts.size());
        for (StringPart& part : parts) {
            auto* string = std::get_if<StringLiteral>(&part);
            strings.push_back(string != nullptr ? std::move(*string) : invalid_string_literal(part_range(part)));
        }
        return ParsedExpr{
            Expr(ExprStringLiteral{{}, range, StringLiteralValue{ConcatenatedStringLiteral(std::move(strings))}}),
            false, height};
    }
    std::vector<FStringValuePart> fparts;
    fparts.reserve(parts.size());
    for (StringPart& part : parts) {
        if (auto* fstring = std::get_if<FString>(&part)) {
            fparts.emplace_back(std::move(*fstring));
        } else if (auto* string = std::get_if<StringLiteral>(&part)) {
            fparts.emplace_back(std::move(*string));
        } else {
            fparts.emplace_back(invalid_string_literal(part_range(part)));
        }
    }
    return ParsedExpr{Expr(ExprFString{{}, range, FStringValue{std::move(fparts)}}), false, height};
}

}  // namespace lumra::pyexpr::parser_detail
