// The Python expression tree.
//
// Plain owned data: every node owns its children, there are no parent links and
// no sharing. Copying a node (copy constructor) copies the whole subtree; the
// copy is independent of the original. Ranges are byte offsets into the parsed
// text.
//
// Representation:
//  - A single child expression is a Box<Expr> (heap, never empty for a required
//    child). An optional child is a Box<Expr> that may be empty: test it with
//    `if (node.value)`.
//  - Lists of expressions are std::vector<Expr> (stored inline).
//  - Field names follow the tree's field names, except `ParameterWithDefault::
//    default_` (`default` is a C++ keyword).
//  - Expr holds the 33 node kinds in a std::variant, in the fixed order of
//    ExprKind (the index of a kind appears in user-visible messages).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "pyexpr/internal_fault.h"
#include "pyexpr/name.h"
#include "pyexpr/string_flags.h"
#include "pyexpr/text_size.h"

namespace lumra::pyexpr {

// ---------------------------------------------------------------------------
// Small building blocks

// Slot for a later numbering of nodes; this system never assigns one, so it is
// always "NodeIndex(None)".
struct NodeIndex {
    static constexpr uint32_t kNone = UINT32_MAX;
    uint32_t value = kNone;
    constexpr bool is_none() const { return value == kNone; }
    friend constexpr bool operator==(NodeIndex, NodeIndex) = default;
};

struct Expr;

namespace detail {
// Storage for Box<Expr>, from the per-thread block pool: trees are built and
// dropped node by node, thousands per expression.
void* allocate_expr_block();
void free_expr_block(void* block) noexcept;
}  // namespace detail

// Owning pointer with deep-copy semantics. May be empty (optional children).
template <class T>
class Box {
public:
    Box() noexcept = default;
    Box(std::nullptr_t) noexcept {}  // NOLINT(google-explicit-constructor)
    explicit Box(T&& value) : ptr_(create(std::move(value))) {}
    explicit Box(const T& value) : ptr_(create(value)) {}
    Box(const Box& other) : ptr_(other.ptr_ ? create(*other.ptr_) : nullptr) {}
    Box(Box&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
    Box& operator=(const Box& other) {
        if (this != &other) {
            T* fresh = other.ptr_ ? create(*other.ptr_) : nullptr;
            reset();
            ptr_ = fresh;
        }
        return *this;
    }
    Box& operator=(Box&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = other.ptr_;
            other.ptr_ = nullptr;
        }
        return *this;
    }
    ~Box() { destroy(ptr_); }

    template <class... Args>
    static Box make(Args&&... args) {
        Box b;
        b.ptr_ = create(std::forward<Args>(args)...);
        return b;
    }

    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    bool has_value() const noexcept { return ptr_ != nullptr; }
    T* get() noexcept { return ptr_; }
    const T* get() const noexcept { return ptr_; }
    T& operator*() noexcept { return *ptr_; }
    const T& operator*() const noexcept { return *ptr_; }
    T* operator->() noexcept { return ptr_; }
    const T* operator->() const noexcept { return ptr_; }

    void reset() noexcept {
        T* old = ptr_;
        ptr_ = nullptr;
        destroy(old);
    }
    // Moves the value out and leaves the box empty. The box must not be empty.
    T take() {
        T value = std::move(*ptr_);
        reset();
        return value;
    }

private:
    template <class... Args>
    static T* create(Args&&... args) {
        if constexpr (std::is_same_v<T, Expr>) {
            void* block = detail::allocate_expr_block();
            if constexpr (std::is_nothrow_constructible_v<T, Args&&...>) {
                return ::new (block) T(std::forward<Args>(args)...);
            } else {
                try {
                    return ::new (block) T(std::forward<Args>(args)...);
                } catch (...) {
                    detail::free_expr_block(block);
                    throw;
                }
            }
        } else {
            return new T(std::forward<Args>(args)...);
        }
    }
    static void destroy(T* p) noexcept {
        if constexpr (std::is_same_v<T, Expr>) {
            if (p != nullptr) {
                p->~T();
                detail::free_expr_block(p);
            }
        } else {
            delete p;
        }
    }

    T* ptr_ = nullptr;
};

// ---------------------------------------------------------------------------
// Enumerations (member order is the numeric value)

enum class BoolOp : uint8_t { And, Or };
enum class Operator : uint8_t { Add, Sub, Mult, MatMult, Div, Mod, Pow, LShift, RShift, BitOr, BitXor, BitAnd, FloorDiv };
enum class UnaryOp : uint8_t { Invert, Not, UAdd, USub };
enum class CmpOp : uint8_t { Eq, NotEq, Lt, LtE, Gt, GtE, Is, IsNot, In, NotIn };
enum class ExprContext : uint8_t { Load, Store, Del, Invalid };
enum class IpyEscapeKind : uint8_t { Shell, ShCap, Help, Help2, Magic, Magic2, Quote, Quote2, Paren };
// The `!` conversion of a replacement field; the letters' codes, None otherwise.
enum class ConversionFlag : int8_t { None = -1, Str = 's', Ascii = 'a', Repr = 'r' };

// Names as the debug rendering prints them ("Add", "NotIn", "Load", ...).
std::string_view enum_name(BoolOp v);
std::string_view enum_name(Operator v);
std::string_view enum_name(UnaryOp v);
std::string_view enum_name(CmpOp v);
std::string_view enum_name(ExprContext v);
std::string_view enum_name(IpyEscapeKind v);
std::string_view enum_name(ConversionFlag v);

// Source texts: "and"/"or"; "+", "-", "*", "@", "/", "%", "**", "<<", ">>", "|",
// "^", "&", "//"; "~", "not", "+", "-"; "==", "!=", "<", "<=", ">", ">=", "is",
// "is not", "in", "not in".
std::string_view source_text(BoolOp v);
std::string_view source_text(Operator v);
std::string_view source_text(UnaryOp v);
std::string_view source_text(CmpOp v);

// IPython escape kinds from their first character(s); nullopt for any other.
// The refusal texts are "Unexpected magic escape: {}" and "...: {}{}".
std::optional<IpyEscapeKind> ipy_escape_kind_from_char(char32_t c);
std::optional<IpyEscapeKind> ipy_escape_kind_from_pair(char32_t first, char32_t second);

// ---------------------------------------------------------------------------
// Literal values

// An integer literal: a small value when it fits in 64 bits, else its text (the
// decimal digits without underscores, or the whole 0x/0o/0b token as written).
// The rare text is kept behind a pointer, so that the common small value moves
// as two words (every sandbox call carries two integers).
class IntValue {
public:
    IntValue() = default;
    IntValue(const IntValue& other)
        : small_(other.small_), big_(other.big_ ? std::make_unique<std::string>(*other.big_) : nullptr) {}
    IntValue(IntValue&&) noexcept = default;
    IntValue& operator=(const IntValue& other) {
        if (this != &other) *this = IntValue(other);
        return *this;
    }
    IntValue& operator=(IntValue&&) noexcept = default;
    ~IntValue() = default;

    static IntValue small(uint64_t value) {
        IntValue v;
        v.small_ = value;
        return v;
    }
    static IntValue big(std::string text) {
        IntValue v;
        v.big_ = std::make_unique<std::string>(std::move(text));
        return v;
    }
    bool is_small() const { return big_ == nullptr; }
    bool is_big() const { return big_ != nullptr; }
    uint64_t small_value() const { return small_; }
    // Empty for a small value.
    const std::string& big_text() const {
        static const std::string kNone;
        return big_ ? *big_ : kNone;
    }
    // Decimal value or the kept text.
    std::string to_string() const { return big_ ? *big_ : std::to_string(small_); }
    friend bool operator==(const IntValue& a, const IntValue& b) {
        if (a.small_ != b.small_ || a.is_big() != b.is_big()) return false;
        return !a.is_big() || *a.big_ == *b.big_;
    }

private:
    uint64_t small_ = 0;
    std::unique_ptr<std::string> big_;
};

struct ComplexValue {
    double real = 0.0;
    double imag = 0.0;
    friend bool operator==(const ComplexValue&, const ComplexValue&) = default;
};

// Alternatives in the order Int, Float, Complex.
using NumberValue = std::variant<IntValue, double, ComplexValue>;

// ---------------------------------------------------------------------------
// Supporting nodes that need no complete Expr

struct Expr;

struct Identifier {
    Name id;
    TextRange range;
    NodeIndex node_index;
};

struct StringLiteral {
    TextRange range;
    NodeIndex node_index;
    std::string value;  // decoded text
    StringLiteralFlags flags;
};

// Implicitly joined adjacent literals; the joined text is computed on first
// request and kept.
class ConcatenatedStringLiteral {
public:
    std::vector<StringLiteral> strings;  // two or more, in source order

    ConcatenatedStringLiteral() = default;
    explicit ConcatenatedStringLiteral(std::vector<StringLiteral> parts) : strings(std::move(parts)) {}
    ConcatenatedStringLiteral(const ConcatenatedStringLiteral& other) : strings(other.strings) {}
    ConcatenatedStringLiteral(ConcatenatedStringLiteral&& other) noexcept
        : strings(std::move(other.strings)), value_(other.value_.exchange(nullptr)) {}
    ConcatenatedStringLiteral& operator=(const ConcatenatedStringLiteral& other) {
        if (this != &other) {
            strings = other.strings;
            delete value_.exchange(nullptr);
        }
        return *this;
    }
    ConcatenatedStringLiteral& operator=(ConcatenatedStringLiteral&& other) noexcept {
        if (this != &other) {
            strings = std::move(other.strings);
            delete value_.exchange(other.value_.exchange(nullptr));
        }
        return *this;
    }
    ~ConcatenatedStringLiteral() { delete value_.load(); }

    // The joined text. After changing `strings`, call invalidate().
    const std::string& value() const;
    void invalidate() { delete value_.exchange(nullptr); }

private:
    mutable std::atomic<std::string*> value_{nullptr};
};

struct StringLiteralValue {
    std::variant<StringLiteral, ConcatenatedStringLiteral> inner;

    bool is_implicit_concatenated() const { return inner.index() == 1; }
    // The parts in source order (one for a single literal).
    std::span<const StringLiteral> parts() const;
    std::span<StringLiteral> parts();
    // The whole decoded text.
    std::string_view to_str() const;
};

struct BytesLiteral {
    TextRange range;
    NodeIndex node_index;
    std::string value;  // decoded bytes
    BytesLiteralFlags flags;
};

struct BytesLiteralValue {
    std::variant<BytesLiteral, std::vector<BytesLiteral>> inner;

    bool is_implicit_concatenated() const { return inner.index() == 1; }
    std::span<const BytesLiteral> parts() const;
    std::span<BytesLiteral> parts();
    std::string bytes() const;  // all parts joined
};

struct InterpolatedStringElement;

// Present only for a self-documenting field (`{x=}`).
struct DebugText {
    std::string leading;   // from just after `{` to the expression
    std::string trailing;  // from the end of the expression up to the token after `=`
};

struct InterpolatedStringFormatSpec {
    TextRange range;
    NodeIndex node_index;
    std::vector<InterpolatedStringElement> elements;
};

struct InterpolatedStringLiteralElement {
    TextRange range;
    NodeIndex node_index;
    std::string value;  // decoded literal text
};

struct InterpolatedElement {
    TextRange range;
    NodeIndex node_index;
    Box<Expr> expression;
    std::optional<DebugText> debug_text;
    ConversionFlag conversion = ConversionFlag::None;
    std::optional<InterpolatedStringFormatSpec> format_spec;
};

// Literal (index 0) or Interpolation (index 1).
struct InterpolatedStringElement : std::variant<InterpolatedStringLiteralElement, InterpolatedElement> {
    using variant::variant;
    bool is_literal() const { return index() == 0; }
    bool is_interpolation() const { return index() == 1; }
    TextRange range() const;
};

struct FString {
    TextRange range;
    NodeIndex node_index;
    std::vector<InterpolatedStringElement> elements;
    FStringFlags flags;
};

struct TString {
    TextRange range;
    NodeIndex node_index;
    std::vector<InterpolatedStringElement> elements;
    TStringFlags flags;
};

// Literal (a plain string joined to an f-string, index 0) or FString (index 1).
struct FStringValuePart : std::variant<StringLiteral, FString> {
    using variant::variant;
    bool is_literal() const { return index() == 0; }
    TextRange range() const;
};

struct FStringValue {
    std::variant<FStringValuePart, std::vector<FStringValuePart>> inner;

    bool is_implicit_concatenated() const { return inner.index() == 1; }
    std::span<const FStringValuePart> parts() const;
    std::span<FStringValuePart> parts();
};

struct TStringValue {
    std::variant<TString, std::vector<TString>> inner;

    bool is_implicit_concatenated() const { return inner.index() == 1; }
    std::span<const TString> parts() const;
    std::span<TString> parts();
};

struct Parameter {
    TextRange range;
    NodeIndex node_index;
    Identifier name;
    Box<Expr> annotation;  // optional; lambda parameters never have one
};

struct ParameterWithDefault {
    TextRange range;
    NodeIndex node_index;
    Parameter parameter;
    Box<Expr> default_;  // optional
};

struct Parameters {
    TextRange range;
    NodeIndex node_index;
    std::vector<ParameterWithDefault> posonlyargs;
    std::vector<ParameterWithDefault> args;
    std::optional<Parameter> vararg;
    std::vector<ParameterWithDefault> kwonlyargs;
    std::optional<Parameter> kwarg;
};

struct Keyword;
struct Comprehension;
struct DictItem;

struct Arguments {
    TextRange range;
    NodeIndex node_index;
    std::vector<Expr> args;  // starred ones as ExprStarred
    std::vector<Keyword> keywords;
};

// ---------------------------------------------------------------------------
// Expression nodes (node_index first, then range)

struct ExprBoolOp {
    NodeIndex node_index;
    TextRange range;
    BoolOp op = BoolOp::And;
    std::vector<Expr> values;
};
struct ExprNamed {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> target;
    Box<Expr> value;
};
struct ExprBinOp {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> left;
    Operator op = Operator::Add;
    Box<Expr> right;
};
struct ExprUnaryOp {
    NodeIndex node_index;
    TextRange range;
    UnaryOp op = UnaryOp::Invert;
    Box<Expr> operand;
};
struct ExprLambda {
    NodeIndex node_index;
    TextRange range;
    Box<Parameters> parameters;  // optional: empty when the lambda has none
    Box<Expr> body;
};
struct ExprIf {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> test;
    Box<Expr> body;
    Box<Expr> orelse;
};
struct ExprDict {
    NodeIndex node_index;
    TextRange range;
    std::vector<DictItem> items;
};
struct ExprSet {
    NodeIndex node_index;
    TextRange range;
    std::vector<Expr> elts;
};
struct ExprListComp {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> elt;
    std::vector<Comprehension> generators;
};
struct ExprSetComp {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> elt;
    std::vector<Comprehension> generators;
};
struct ExprDictComp {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> key;
    Box<Expr> value;
    std::vector<Comprehension> generators;
};
struct ExprGenerator {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> elt;
    std::vector<Comprehension> generators;
    bool parenthesized = false;
};
struct ExprAwait {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> value;
};
struct ExprYield {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> value;  // optional
};
struct ExprYieldFrom {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> value;
};
struct ExprCompare {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> left;
    std::vector<CmpOp> ops;
    std::vector<Expr> comparators;  // same length as ops
};
struct ExprCall {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> func;
    Arguments arguments;
};
struct ExprFString {
    NodeIndex node_index;
    TextRange range;
    FStringValue value;
};
struct ExprTString {
    NodeIndex node_index;
    TextRange range;
    TStringValue value;
};
struct ExprStringLiteral {
    NodeIndex node_index;
    TextRange range;
    StringLiteralValue value;
};
struct ExprBytesLiteral {
    NodeIndex node_index;
    TextRange range;
    BytesLiteralValue value;
};
struct ExprNumberLiteral {
    NodeIndex node_index;
    TextRange range;
    NumberValue value;
};
struct ExprBooleanLiteral {
    NodeIndex node_index;
    TextRange range;
    bool value = false;
};
struct ExprNoneLiteral {
    NodeIndex node_index;
    TextRange range;
};
struct ExprEllipsisLiteral {
    NodeIndex node_index;
    TextRange range;
};
struct ExprAttribute {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> value;
    Identifier attr;
    ExprContext ctx = ExprContext::Load;
};
struct ExprSubscript {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> value;
    Box<Expr> slice;  // an ExprSlice, a tuple or any expression
    ExprContext ctx = ExprContext::Load;
};
struct ExprStarred {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> value;
    ExprContext ctx = ExprContext::Load;
};
struct ExprName {
    NodeIndex node_index;
    TextRange range;
    Name id;
    ExprContext ctx = ExprContext::Load;
};
struct ExprList {
    NodeIndex node_index;
    TextRange range;
    std::vector<Expr> elts;
    ExprContext ctx = ExprContext::Load;
};
struct ExprTuple {
    NodeIndex node_index;
    TextRange range;
    std::vector<Expr> elts;
    ExprContext ctx = ExprContext::Load;
    bool parenthesized = false;
};
struct ExprSlice {
    NodeIndex node_index;
    TextRange range;
    Box<Expr> lower;  // each optional
    Box<Expr> upper;
    Box<Expr> step;
};
struct ExprIpyEscapeCommand {
    NodeIndex node_index;
    TextRange range;
    IpyEscapeKind kind = IpyEscapeKind::Shell;
    std::string value;
};

// The kinds, in their fixed order (also the variant index in Expr::node).
enum class ExprKind : uint8_t {
    BoolOp, Named, BinOp, UnaryOp, Lambda, If, Dict, Set, ListComp, SetComp, DictComp, Generator,
    Await, Yield, YieldFrom, Compare, Call, FString, TString, StringLiteral, BytesLiteral,
    NumberLiteral, BooleanLiteral, NoneLiteral, EllipsisLiteral, Attribute, Subscript, Starred,
    Name, List, Tuple, Slice, IpyEscapeCommand,
};
inline constexpr size_t kExprKindCount = 33;
// "BoolOp", "Named", ... (the variant names).
std::string_view expr_kind_name(ExprKind kind);

using ExprNode = std::variant<
    ExprBoolOp, ExprNamed, ExprBinOp, ExprUnaryOp, ExprLambda, ExprIf, ExprDict, ExprSet, ExprListComp,
    ExprSetComp, ExprDictComp, ExprGenerator, ExprAwait, ExprYield, ExprYieldFrom, ExprCompare, ExprCall,
    ExprFString, ExprTString, ExprStringLiteral, ExprBytesLiteral, ExprNumberLiteral, ExprBooleanLiteral,
    ExprNoneLiteral, ExprEllipsisLiteral, ExprAttribute, ExprSubscript, ExprStarred, ExprName, ExprList,
    ExprTuple, ExprSlice, ExprIpyEscapeCommand>;

namespace detail {
template <class T, class V>
struct VariantIndex;
template <class T, class... Ts>
struct VariantIndex<T, std::variant<Ts...>> {
    static constexpr size_t value = [] {
        size_t i = 0;
        // Counts the alternatives before the first match of T.
        static_cast<void>(((std::is_same_v<T, Ts> ? false : (++i, true)) && ...));
        return i;
    }();
};
template <class T>
inline constexpr bool kIsExprNode = (VariantIndex<T, ExprNode>::value < std::variant_size_v<ExprNode>);

// Destroying a very deep tree must not exhaust the stack: past a depth limit,
// nodes are handed to a per-thread list and destroyed iteratively.
struct DropDepthGuard {
    DropDepthGuard() = default;
    DropDepthGuard(const DropDepthGuard&) noexcept {}
    DropDepthGuard& operator=(const DropDepthGuard&) noexcept { return *this; }
    ~DropDepthGuard();
};
}  // namespace detail

// The kind of a node type, e.g. expr_kind_of<ExprName> == ExprKind::Name.
template <class T>
inline constexpr ExprKind expr_kind_of = static_cast<ExprKind>(detail::VariantIndex<T, ExprNode>::value);

struct Expr {
    [[no_unique_address]] detail::DropDepthGuard drop_guard_;  // destroyed after `node`
    ExprNode node;

    // An empty, invalid name: what the parser inserts for something missing.
    Expr();
    template <class T, std::enable_if_t<detail::kIsExprNode<std::decay_t<T>>, int> = 0>
    Expr(T&& n) : node(std::forward<T>(n)) {}  // NOLINT(google-explicit-constructor)
    Expr(const Expr&) = default;
    Expr(Expr&&) noexcept = default;
    Expr& operator=(const Expr&) = default;
    Expr& operator=(Expr&&) noexcept = default;
    ~Expr();

    ExprKind kind() const { return static_cast<ExprKind>(node.index()); }
    template <class T>
    bool is() const { return std::holds_alternative<T>(node); }
    template <class T>
    T* as_if() { return std::get_if<T>(&node); }
    template <class T>
    const T* as_if() const { return std::get_if<T>(&node); }
    // Checked access: a wrong kind is an internal fault.
    template <class T>
    T& as() {
        if (T* p = std::get_if<T>(&node)) return *p;
        wrong_kind(expr_kind_of<T>);
    }
    template <class T>
    const T& as() const {
        if (const T* p = std::get_if<T>(&node)) return *p;
        wrong_kind(expr_kind_of<T>);
    }
    template <class F>
    decltype(auto) visit(F&& f) { return std::visit(std::forward<F>(f), node); }
    template <class F>
    decltype(auto) visit(F&& f) const { return std::visit(std::forward<F>(f), node); }

    TextRange range() const;
    void set_range(TextRange range);
    NodeIndex node_index() const;

private:
    [[noreturn]] void wrong_kind(ExprKind wanted) const;
};

// ---------------------------------------------------------------------------
// Supporting nodes that hold expressions inline

struct Keyword {
    TextRange range;
    NodeIndex node_index;
    std::optional<Identifier> arg;  // absent for `**mapping`
    Expr value;
};

struct Comprehension {
    TextRange range;
    NodeIndex node_index;
    Expr target;
    Expr iter;
    std::vector<Expr> ifs;
    bool is_async = false;
};

struct DictItem {
    Box<Expr> key;  // optional: empty for `**mapping`
    Expr value;
};

// Defined once every node type is complete: building the variant may need to
// destroy any alternative, and clang checks that eagerly.
inline Expr::Expr() : node(ExprName{{}, {}, Name(), ExprContext::Invalid}) {}

// ---------------------------------------------------------------------------
// Construction helpers (ranges default to 0..0, node indexes to none)

// By reference: a node moved through a by-value parameter would be moved twice.
inline Box<Expr> boxed(Expr&& e) { return Box<Expr>(std::move(e)); }
inline Box<Expr> boxed(const Expr& e) { return Box<Expr>(e); }

Expr make_name(std::string_view id, TextRange range = {}, ExprContext ctx = ExprContext::Load);
// A single, unprefixed, non-triple-quoted, single-quote-style string literal.
Expr make_string_literal(std::string value, TextRange range = {});
Expr make_int_literal(uint64_t value, TextRange range = {});
Expr make_none_literal(TextRange range = {});
Expr make_tuple(std::vector<Expr> elts, TextRange range = {}, bool parenthesized = true,
                ExprContext ctx = ExprContext::Load);
Expr make_call(Expr func, std::vector<Expr> args, std::vector<Keyword> keywords = {}, TextRange range = {});
Expr make_attribute(Expr value, std::string_view attr, TextRange range = {}, ExprContext ctx = ExprContext::Load);
Identifier make_identifier(std::string_view id, TextRange range = {});

// ---------------------------------------------------------------------------
// Walking children

// Calls f(child) for every direct child expression of `e`, in field order,
// including those inside supporting nodes (arguments, keywords, comprehension
// clauses, dict items, parameter defaults and annotations, the expressions and
// nested format-spec fields of interpolations). Works on Expr& and const Expr&.
template <class E, class F>
    requires std::is_same_v<std::remove_const_t<E>, Expr>
void for_each_child(E& e, F&& f);

// ---------------------------------------------------------------------------
// Debug rendering, in the derive style of messages such as
// Await(ExprAwait { node_index: NodeIndex(None), range: 2..9, value: Name(ExprName { ... }) })

std::string debug_string(const Expr& e);
// The same with every range printed as ".." (for comparing trees parsed from
// different texts, e.g. a printed tree parsed again).
std::string debug_string_without_ranges(const Expr& e);
void debug_write(std::string& out, const Expr& e);
void debug_write(std::string& out, const Identifier& v);
void debug_write(std::string& out, const Keyword& v);
void debug_write(std::string& out, const Arguments& v);
void debug_write(std::string& out, const Comprehension& v);
void debug_write(std::string& out, const DictItem& v);
void debug_write(std::string& out, const Parameters& v);
void debug_write(std::string& out, const Parameter& v);
void debug_write(std::string& out, const ParameterWithDefault& v);
void debug_write(std::string& out, const StringLiteral& v);
void debug_write(std::string& out, const BytesLiteral& v);
void debug_write(std::string& out, const FString& v);
void debug_write(std::string& out, const TString& v);
void debug_write(std::string& out, const InterpolatedStringElement& v);
void debug_write(std::string& out, const NumberValue& v);
// A text in double quotes with the escapes of the debug form.
void debug_write_str(std::string& out, std::string_view text);
// A 64-bit float as the debug form prints it (1.0, 1e16, 1e-5, inf, NaN).
void debug_write_float(std::string& out, double value);

// ---------------------------------------------------------------------------
// Implementation of for_each_child

namespace detail {
template <class E, class F>
void visit_elements(E& elements, F& f);

template <class Elem, class F>
void visit_interpolated(Elem& element, F& f) {
    if (auto* interp = std::get_if<InterpolatedElement>(&element)) {
        if (interp->expression) f(*interp->expression);
        if (interp->format_spec) visit_elements(interp->format_spec->elements, f);
    }
}
template <class E, class F>
void visit_elements(E& elements, F& f) {
    for (auto& element : elements) visit_interpolated(element, f);
}
template <class C, class F>
void visit_comprehensions(C& generators, F& f) {
    for (auto& g : generators) {
        f(g.target);
        f(g.iter);
        for (auto& cond : g.ifs) f(cond);
    }
}
template <class P, class F>
void visit_parameters(P& p, F& f) {
    auto with_default = [&](auto& list) {
        for (auto& pd : list) {
            if (pd.parameter.annotation) f(*pd.parameter.annotation);
            if (pd.default_) f(*pd.default_);
        }
    };
    with_default(p.posonlyargs);
    with_default(p.args);
    if (p.vararg && p.vararg->annotation) f(*p.vararg->annotation);
    with_default(p.kwonlyargs);
    if (p.kwarg && p.kwarg->annotation) f(*p.kwarg->annotation);
}
}  // namespace detail

template <class E, class F>
    requires std::is_same_v<std::remove_const_t<E>, Expr>
void for_each_child(E& e, F&& f) {
    auto one = [&](auto& box) {
        if (box) f(*box);
    };
    auto all = [&](auto& list) {
        for (auto& x : list) f(x);
    };
    e.visit([&](auto& n) {
        using N = std::remove_const_t<std::remove_reference_t<decltype(n)>>;
        if constexpr (std::is_same_v<N, ExprBoolOp>) {
            all(n.values);
        } else if constexpr (std::is_same_v<N, ExprNamed>) {
            one(n.target);
            one(n.value);
        } else if constexpr (std::is_same_v<N, ExprBinOp>) {
            one(n.left);
            one(n.right);
        } else if constexpr (std::is_same_v<N, ExprUnaryOp>) {
            one(n.operand);
        } else if constexpr (std::is_same_v<N, ExprLambda>) {
            if (n.parameters) detail::visit_parameters(*n.parameters, f);
            one(n.body);
        } else if constexpr (std::is_same_v<N, ExprIf>) {
            one(n.test);
            one(n.body);
            one(n.orelse);
        } else if constexpr (std::is_same_v<N, ExprDict>) {
            for (auto& item : n.items) {
                one(item.key);
                f(item.value);
            }
        } else if constexpr (std::is_same_v<N, ExprSet> || std::is_same_v<N, ExprList> ||
                             std::is_same_v<N, ExprTuple>) {
            all(n.elts);
        } else if constexpr (std::is_same_v<N, ExprListComp> || std::is_same_v<N, ExprSetComp> ||
                             std::is_same_v<N, ExprGenerator>) {
            one(n.elt);
            detail::visit_comprehensions(n.generators, f);
        } else if constexpr (std::is_same_v<N, ExprDictComp>) {
            one(n.key);
            one(n.value);
            detail::visit_comprehensions(n.generators, f);
        } else if constexpr (std::is_same_v<N, ExprAwait> || std::is_same_v<N, ExprYield> ||
                             std::is_same_v<N, ExprYieldFrom> || std::is_same_v<N, ExprStarred>) {
            one(n.value);
        } else if constexpr (std::is_same_v<N, ExprCompare>) {
            one(n.left);
            all(n.comparators);
        } else if constexpr (std::is_same_v<N, ExprCall>) {
            one(n.func);
            all(n.arguments.args);
            for (auto& kw : n.arguments.keywords) f(kw.value);
        } else if constexpr (std::is_same_v<N, ExprFString>) {
            for (auto& part : n.value.parts())
                if (auto* fs = std::get_if<FString>(&part)) detail::visit_elements(fs->elements, f);
        } else if constexpr (std::is_same_v<N, ExprTString>) {
            for (auto& ts : n.value.parts()) detail::visit_elements(ts.elements, f);
        } else if constexpr (std::is_same_v<N, ExprAttribute>) {
            one(n.value);
        } else if constexpr (std::is_same_v<N, ExprSubscript>) {
            one(n.value);
            one(n.slice);
        } else if constexpr (std::is_same_v<N, ExprSlice>) {
            one(n.lower);
            one(n.upper);
            one(n.step);
        } else {
            // Literals, names and escape commands have no child expressions.
            static_assert(std::is_same_v<N, ExprStringLiteral> || std::is_same_v<N, ExprBytesLiteral> ||
                          std::is_same_v<N, ExprNumberLiteral> || std::is_same_v<N, ExprBooleanLiteral> ||
                          std::is_same_v<N, ExprNoneLiteral> || std::is_same_v<N, ExprEllipsisLiteral> ||
                          std::is_same_v<N, ExprName> || std::is_same_v<N, ExprIpyEscapeCommand>);
        }
    });
}

}  // namespace lumra::pyexpr
