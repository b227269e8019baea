#include "pyexpr/ast.h"

#include <mutex>

#include "memory/block_pool.h"

namespace lumra::pyexpr {

// ---------------------------------------------------------------------------
// Enumerations

std::string_view enum_name(BoolOp v) { return v == BoolOp::And ? "And" : "Or"; }

std::string_view enum_name(Operator v) {
    static constexpr std::string_view kNames[] = {"Add",    "Sub",    "Mult",  "MatMult", "Div",
                                                  "Mod",    "Pow",    "LShift", "RShift", "BitOr",
                                                  "BitXor", "BitAnd", "FloorDiv"};
    return kNames[static_cast<size_t>(v)];
}

std::string_view enum_name(UnaryOp v) {
    static constexpr std::string_view kNames[] = {"Invert", "Not", "UAdd", "USub"};
    return kNames[static_cast<size_t>(v)];
}

std::string_view enum_name(CmpOp v) {
    static constexpr std::string_view kNames[] = {"Eq", "NotEq", "Lt", "LtE", "Gt",
                                                  "GtE", "Is", "IsNot", "In", "NotIn"};
    return kNames[static_cast<size_t>(v)];
}

std::string_view enum_name(ExprContext v) {
    static constexpr std::string_view kNames[] = {"Load", "Store", "Del", "Invalid"};
    return kNames[static_cast<size_t>(v)];
}

std::string_view enum_name(IpyEscapeKind v) {
    static constexpr std::string_view kNames[] = {"Shell", "ShCap", "Help",   "Help2", "Magic",
                                                  "Magic2", "Quote", "Quote2", "Paren"};
    return kNames[static_cast<size_t>(v)];
}

std::string_view enum_name(ConversionFlag v) {
    switch (v) {
        case ConversionFlag::Str: return "Str";
        case ConversionFlag::Ascii: return "Ascii";
        case ConversionFlag::Repr: return "Repr";
        case ConversionFlag::None: break;
    }
    return "None";
}

std::string_view source_text(BoolOp v) { return v == BoolOp::And ? "and" : "or"; }

std::string_view source_text(Operator v) {
    static constexpr std::string_view kTexts[] = {"+", "-", "*", "@", "/", "%", "**",
                                                  "<<", ">>", "|", "^", "&", "//"};
    return kTexts[static_cast<size_t>(v)];
}

std::string_view source_text(UnaryOp v) {
    static constexpr std::string_view kTexts[] = {"~", "not", "+", "-"};
    return kTexts[static_cast<size_t>(v)];
}

std::string_view source_text(CmpOp v) {
    static constexpr std::string_view kTexts[] = {"==", "!=", "<", "<=", ">", ">=", "is", "is not", "in", "not in"};
    return kTexts[static_cast<size_t>(v)];
}

std::optional<IpyEscapeKind> ipy_escape_kind_from_char(char32_t c) {
    switch (c) {
        case '!': return IpyEscapeKind::Shell;
        case '?': return IpyEscapeKind::Help;
        case '%': return IpyEscapeKind::Magic;
        case ',': return IpyEscapeKind::Quote;
        case ';': return IpyEscapeKind::Quote2;
        case '/': return IpyEscapeKind::Paren;
        default: return std::nullopt;
    }
}

std::optional<IpyEscapeKind> ipy_escape_kind_from_pair(char32_t first, char32_t second) {
    if (first != second) return std::nullopt;
    switch (first) {
        case '!': return IpyEscapeKind::ShCap;
        case '?': return IpyEscapeKind::Help2;
        case '%': return IpyEscapeKind::Magic2;
        default: return std::nullopt;
    }
}

std::string_view expr_kind_name(ExprKind kind) {
    static constexpr std::string_view kNames[kExprKindCount] = {
        "BoolOp",     "Named",         "BinOp",          "UnaryOp",        "Lambda",        "If",
        "Dict",       "Set",           "ListComp",       "SetComp",        "DictComp",      "Generator",
        "Await",      "Yield",         "YieldFrom",      "Compare",        "Call",          "FString",
        "TString",    "StringLiteral", "BytesLiteral",   "NumberLiteral",  "BooleanLiteral", "NoneLiteral",
        "EllipsisLiteral", "Attribute", "Subscript",     "Starred",        "Name",          "List",
        "Tuple",      "Slice",         "IpyEscapeCommand"};
    return kNames[static_cast<size_t>(kind)];
}

// ---------------------------------------------------------------------------
// Flags

std::string_view StringTokenFlags::prefix_text() const {
    const bool upper = has(kRPrefixUpper);
    const bool raw = is_raw();
    if (has(kBPrefix)) return raw ? (upper ? "Rb" : "rb") : "b";
    if (has(kFPrefix)) return raw ? (upper ? "Rf" : "rf") : "f";
    if (has(kTPrefix)) return raw ? (upper ? "Rt" : "rt") : "t";
    if (has(kUPrefix)) return "u";
    if (raw) return upper ? "R" : "r";
    return "";
}

namespace {
template <class Flags>
Flags raw_prefixed_flags(StringTokenFlags f) {
    Flags out;
    out.quote_style = f.is_double_quoted() ? QuoteStyle::Double : QuoteStyle::Single;
    if (f.is_raw()) out.prefix = RawPrefix::raw_prefix(f.has(StringTokenFlags::kRPrefixUpper));
    out.triple_quoted = f.is_triple_quoted();
    out.unclosed = f.is_unclosed();
    return out;
}
}  // namespace

StringLiteralFlags string_literal_flags(StringTokenFlags f) {
    if (f.has(StringTokenFlags::kBPrefix | StringTokenFlags::kFPrefix | StringTokenFlags::kTPrefix)) {
        internal_fault("internal error: entered unreachable code: Should never attempt to convert " +
                       std::string(f.prefix_text()) + " into a regular string");
    }
    StringLiteralFlags out;
    out.quote_style = f.is_double_quoted() ? QuoteStyle::Double : QuoteStyle::Single;
    if (f.has(StringTokenFlags::kUPrefix)) {
        out.prefix = StrPrefix::unicode();
    } else if (f.is_raw()) {
        out.prefix = StrPrefix::raw(f.has(StringTokenFlags::kRPrefixUpper));
    }
    out.triple_quoted = f.is_triple_quoted();
    out.unclosed = f.is_unclosed();
    return out;
}

BytesLiteralFlags bytes_literal_flags(StringTokenFlags f) { return raw_prefixed_flags<BytesLiteralFlags>(f); }
FStringFlags fstring_flags(StringTokenFlags f) { return raw_prefixed_flags<FStringFlags>(f); }
TStringFlags tstring_flags(StringTokenFlags f) { return raw_prefixed_flags<TStringFlags>(f); }

// ---------------------------------------------------------------------------
// Literal values

const std::string& ConcatenatedStringLiteral::value() const {
    if (std::string* cached = value_.load(std::memory_order_acquire)) return *cached;
    size_t total = 0;
    for (const auto& s : strings) total += s.value.size();
    auto* joined = new std::string();
    joined->reserve(total);
    for (const auto& s : strings) joined->append(s.value);
    std::string* expected = nullptr;
    if (!value_.compare_exchange_strong(expected, joined, std::memory_order_acq_rel)) {
        delete joined;  // another thread won; keep its value
        return *expected;
    }
    return *joined;
}

namespace {
template <class T, class V>
std::span<T> parts_of(V& inner) {
    if (inner.index() == 0) return std::span<T>(&std::get<0>(inner), 1);
    auto& list = std::get<1>(inner);
    return std::span<T>(list.data(), list.size());
}
}  // namespace

std::span<const StringLiteral> StringLiteralValue::parts() const {
    if (const auto* single = std::get_if<StringLiteral>(&inner)) return {single, 1};
    const auto& c = std::get<ConcatenatedStringLiteral>(inner);
    return {c.strings.data(), c.strings.size()};
}
std::span<StringLiteral> StringLiteralValue::parts() {
    if (auto* single = std::get_if<StringLiteral>(&inner)) return {single, 1};
    auto& c = std::get<ConcatenatedStringLiteral>(inner);
    return {c.strings.data(), c.strings.size()};
}
std::string_view StringLiteralValue::to_str() const {
    if (const auto* single = std::get_if<StringLiteral>(&inner)) return single->value;
    return std::get<ConcatenatedStringLiteral>(inner).value();
}

std::span<const BytesLiteral> BytesLiteralValue::parts() const { return parts_of<const BytesLiteral>(inner); }
std::span<BytesLiteral> BytesLiteralValue::parts() { return parts_of<BytesLiteral>(inner); }
std::string BytesLiteralValue::bytes() const {
    std::string out;
    for (const auto& part : parts()) out.append(part.value);
    return out;
}

std::span<const FStringValuePart> FStringValue::parts() const { return parts_of<const FStringValuePart>(inner); }
std::span<FStringValuePart> FStringValue::parts() { return parts_of<FStringValuePart>(inner); }
std::span<const TString> TStringValue::parts() const { return parts_of<const TString>(inner); }
std::span<TString> TStringValue::parts() { return parts_of<TString>(inner); }

TextRange InterpolatedStringElement::range() const {
    return std::visit([](const auto& e) { return e.range; }, static_cast<const variant&>(*this));
}
TextRange FStringValuePart::range() const {
    return std::visit([](const auto& e) { return e.range; }, static_cast<const variant&>(*this));
}

// ---------------------------------------------------------------------------
// Expr

namespace {
// Nesting beyond this depth is destroyed through the per-thread list.
constexpr uint32_t kDropDepthLimit = 256;
// Every node's destruction touches the depth, so it lives in initial-exec TLS:
// the module is a shared object, where the default model calls __tls_get_addr
// on each access. It is a plain integer, so no initialisation guard either.
[[gnu::tls_model("initial-exec")]] thread_local uint32_t t_drop_depth = 0;
// Set once a node was deferred, so that the list itself (which needs a guarded
// initialisation) is only touched by deep trees.
[[gnu::tls_model("initial-exec")]] thread_local bool t_any_deferred = false;
thread_local std::vector<ExprNode> t_deferred;

[[gnu::noinline]] void defer_node(ExprNode& node) {
    // Only the move may allocate; if it cannot, fall back to plain recursion.
    try {
        t_deferred.push_back(std::move(node));
        t_any_deferred = true;
    } catch (...) {
    }
}

[[gnu::noinline]] void drain_deferred() {
    // Held above zero so that the nodes destroyed here do not drain again.
    ++t_drop_depth;
    while (!t_deferred.empty()) {
        ExprNode doomed = std::move(t_deferred.back());
        t_deferred.pop_back();
    }
    t_any_deferred = false;
    --t_drop_depth;
}
}  // namespace

// Runs after `node` is destroyed: the outermost node drains what was deferred.
detail::DropDepthGuard::~DropDepthGuard() {
    if (--t_drop_depth == 0 && t_any_deferred) drain_deferred();
}

Expr::~Expr() {
    if (t_drop_depth >= kDropDepthLimit) defer_node(node);
    ++t_drop_depth;
    // drop_guard_ lowers the depth after `node` is gone.
}

// Box<Expr>'s storage: trees are built and dropped node by node.
static_assert(sizeof(Expr) <= memory::kLargestPooledBlock);

void* detail::allocate_expr_block() { return memory::pool_allocate(sizeof(Expr)); }

void detail::free_expr_block(void* block) noexcept { memory::pool_free(block, sizeof(Expr)); }

TextRange Expr::range() const {
    return std::visit([](const auto& n) { return n.range; }, node);
}
void Expr::set_range(TextRange range) {
    std::visit([range](auto& n) { n.range = range; }, node);
}
NodeIndex Expr::node_index() const {
    return std::visit([](const auto& n) { return n.node_index; }, node);
}
void Expr::wrong_kind(ExprKind wanted) const {
    internal_fault("internal error: expected expression kind " + std::string(expr_kind_name(wanted)) +
                   ", found " + std::string(expr_kind_name(kind())));
}

// ---------------------------------------------------------------------------
// Construction

Identifier make_identifier(std::string_view id, TextRange range) { return Identifier{Name(id), range, {}}; }

Expr make_name(std::string_view id, TextRange range, ExprContext ctx) {
    return ExprName{{}, range, Name(id), ctx};
}

Expr make_string_literal(std::string value, TextRange range) {
    return ExprStringLiteral{{}, range, StringLiteralValue{StringLiteral{range, {}, std::move(value), {}}}};
}

Expr make_int_literal(uint64_t value, TextRange range) {
    return ExprNumberLiteral{{}, range, NumberValue(IntValue::small(value))};
}

Expr make_none_literal(TextRange range) { return ExprNoneLiteral{{}, range}; }

Expr make_tuple(std::vector<Expr> elts, TextRange range, bool parenthesized, ExprContext ctx) {
    return ExprTuple{{}, range, std::move(elts), ctx, parenthesized};
}

Expr make_call(Expr func, std::vector<Expr> args, std::vector<Keyword> keywords, TextRange range) {
    return ExprCall{{}, range, boxed(std::move(func)), Arguments{range, {}, std::move(args), std::move(keywords)}};
}

Expr make_attribute(Expr value, std::string_view attr, TextRange range, ExprContext ctx) {
    return ExprAttribute{{}, range, boxed(std::move(value)), make_identifier(attr, range), ctx};
}

}  // namespace lumra::pyexpr
