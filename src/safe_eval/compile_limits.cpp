// Whether printed source stays within what CPython 3.12 compiles: the depth
// of its tokenizer's brackets and of its parser's stack, read off the text,
// and the nesting of inlined comprehensions, read off the tree.
#include "safe_eval/compile_limits.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "safe_eval/comments.h"

namespace lumra::safe_eval {

using pyexpr::Expr;
using pyexpr::ExprKind;

namespace {

// Parser levels, as measured on CPython 3.12, that a construct adds for what
// it encloses, each rounded up. A bracket costs what the place of its item
// does: among a call's arguments or in a subscript, or in any other
// bracket, first or after a comma.
constexpr std::uint32_t kArgumentBracket = 29;
constexpr std::uint32_t kFirstItemBracket = 29;
constexpr std::uint32_t kLaterItemBracket = 30;
// Unary -, +, ~, not, await, the right operand of **, an else branch, `:=`.
constexpr std::uint32_t kPrefix = 2;
// A default of a lambda's parameters, and its body.
constexpr std::uint32_t kLambdaParameters = 8;
constexpr std::uint32_t kLambdaBody = 2;
// The right operands of a comparison, an `and`, an `or`: each adds its own
// once however long its chain (arithmetic and bitwise operators add none).
constexpr std::uint32_t kCompare = 3;
constexpr std::uint32_t kAnd = 2;
constexpr std::uint32_t kOr = 2;

// What the item being read inside one bracket pair has added so far.
// Prefix operators are counted until the item's end or an operator that
// ends their operand; counting one too long only overestimates.
struct Frame {
    std::uint32_t base = 0;   // levels at the bracket
    std::uint32_t tight = 0;  // unary operators and `**`: ended by any binary operator
    std::uint32_t nots = 0;   // `not`: ended by `and`, `or`, `if`, `else`
    std::uint32_t loose = 0;  // lambdas, else branches, `:=`: ended by the item's end
    std::uint32_t compare = 0;
    std::uint32_t and_ = 0;
    std::uint32_t or_ = 0;
    std::uint32_t lambda_parameters = 0;  // lambdas whose ':' is still to come
    bool arguments = false;               // a call's or a subscript's brackets
    bool later_item = false;
    bool comprehension = false;  // a `for` has been read
    bool target = false;         // between a `for` and its `in`

    std::uint32_t levels() const { return base + tight + nots + loose + compare + and_ + or_; }
    // An operand of a conditional, a lambda, a slice or dict item, a keyword
    // argument starts afresh.
    void end_operand() { tight = nots = compare = and_ = or_ = 0; }
    void end_item() {
        end_operand();
        loose = 0;
        lambda_parameters = 0;
    }
    void arithmetic() { tight = 0; }
    void comparison() {
        tight = 0;
        compare = kCompare;
    }
};

constexpr bool starts_word(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}
constexpr bool in_word(unsigned char c) { return starts_word(c) || (c >= '0' && c <= '9'); }

std::size_t number_end(std::string_view s, std::size_t i) {
    const bool decimal = !(s[i] == '0' && i + 1 < s.size() && std::string_view("xXoObB").find(s[i + 1]) != std::string_view::npos);
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c == 'e' || c == 'E') && decimal && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
            i += 2;
        } else if (in_word(c) || c == '.') {
            ++i;
        } else {
            break;
        }
    }
    return i;
}

// One step of the walk for a keyword; false when `word` is a name.
bool keyword(Frame& f, std::string_view word, bool after_operand, bool after_is) {
    if (word == "not") {
        if (after_operand) {
            f.comparison();  // not in
        } else if (!after_is) {
            f.nots += kPrefix;
        }
    } else if (word == "and") {
        f.tight = f.nots = f.compare = 0;
        f.and_ = kAnd;
    } else if (word == "or") {
        f.tight = f.nots = f.compare = f.and_ = 0;
        f.or_ = kOr;
    } else if (word == "in") {
        if (f.target) {
            f.target = false;
        } else {
            f.comparison();
        }
    } else if (word == "is") {
        f.comparison();
    } else if (word == "if") {
        if (f.comprehension) {
            f.end_item();
        } else {
            f.end_operand();
        }
    } else if (word == "else") {
        f.end_operand();
        f.loose += kPrefix;
    } else if (word == "for") {
        f.end_item();
        f.comprehension = f.target = true;
    } else if (word == "lambda") {
        f.loose += kLambdaParameters;
        ++f.lambda_parameters;
    } else if (word == "await") {
        f.tight += kPrefix;
    } else if (word != "async" && word != "yield" && word != "from") {
        return false;
    }
    return true;
}

// Whether " for " occurs `count` times in printed text (in strings too).
// An 'f' is rarer than a space to stop at.
bool at_least_clauses(std::string_view text, std::uint32_t count) {
    std::uint32_t found = 0;
    for (std::size_t at = text.find('f', 1); at != std::string_view::npos; at = text.find('f', at + 1)) {
        if (text[at - 1] == ' ' && text.substr(at, 4) == "for " && ++found == count) return true;
    }
    return false;
}

}  // namespace

SourceDepth source_depth(std::string_view source) {
    // Frame 0 is the whole text; text past kMaxOpenBrackets is already refused.
    std::vector<Frame> frames(1);
    SourceDepth depth;
    bool after_operand = false;
    bool after_is = false;
    std::size_t i = 0;
    while (i < source.size()) {
        Frame& f = frames.back();
        const auto c = static_cast<unsigned char>(source[i]);
        bool operand = false;
        bool is = false;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\\' || c == '\f') {
            ++i;
            continue;
        }
        if (c == '#') {
            while (i < source.size() && source[i] != '\n' && source[i] != '\r') ++i;
            continue;
        }
        if (c == '\'' || c == '"') {
            i = string_literal_end(source, i);
            operand = true;
        } else if (starts_word(c)) {
            const std::size_t start = i;
            while (i < source.size() && in_word(static_cast<unsigned char>(source[i]))) ++i;
            const std::string_view word = source.substr(start, i - start);
            operand = !keyword(f, word, after_operand, after_is);
            is = word == "is";
        } else if ((c >= '0' && c <= '9') || (c == '.' && i + 1 < source.size() && source[i + 1] >= '0' &&
                                               source[i + 1] <= '9')) {
            i = number_end(source, i);
            operand = true;
        } else if (c == '(' || c == '[' || c == '{') {
            ++i;
            const std::uint32_t weight = f.arguments    ? kArgumentBracket
                                         : f.later_item ? kLaterItemBracket
                                                        : kFirstItemBracket;
            Frame inner;
            inner.arguments = after_operand && c != '{';
            inner.base = f.levels() + weight;
            frames.push_back(inner);  // `f` is not used past this point
            depth.open_brackets = std::max(depth.open_brackets, frames.size() - 1);
            depth.parser_levels = std::max<std::size_t>(depth.parser_levels, inner.base);
            after_operand = after_is = false;
            continue;
        } else if (c == ')' || c == ']' || c == '}') {
            ++i;
            if (frames.size() > 1) frames.pop_back();
            after_operand = true;
            after_is = false;
            continue;
        } else {
            // Operators: the longest of those that start here.
            const std::string_view rest = source.substr(i, 3);
            const std::string_view two = rest.substr(0, 2);
            if (rest == "...") {
                i += 3;
                operand = true;
            } else if (two == "**") {
                i += 2;
                if (after_operand) f.tight += kPrefix;
            } else if (two == ":=") {
                i += 2;
                f.loose += kPrefix;
            } else if (two == "//" || two == "<<" || two == ">>") {
                i += 2;
                f.arithmetic();
            } else if (two == "<=" || two == ">=" || two == "==" || two == "!=" || two == "->") {
                i += 2;
                f.comparison();
            } else {
                ++i;
                switch (c) {
                    case ',':
                        if (f.lambda_parameters == 0) {
                            f.end_item();
                            f.later_item = true;
                        }
                        break;
                    case ':':
                        if (f.lambda_parameters > 0) {
                            --f.lambda_parameters;
                            f.loose -= kLambdaParameters - kLambdaBody;
                        }
                        f.end_operand();
                        break;
                    case '=': f.end_operand(); break;
                    case '<':
                    case '>': f.comparison(); break;
                    case '-':
                    case '+':
                        if (after_operand) {
                            f.arithmetic();
                        } else {
                            f.tight += kPrefix;
                        }
                        break;
                    case '~': f.tight += kPrefix; break;
                    case '*':
                        if (after_operand) f.arithmetic();
                        break;
                    case '.':
                    case ';':
                    case '!': break;
                    default: f.arithmetic(); break;
                }
            }
        }
        after_operand = operand;
        after_is = is;
        depth.parser_levels = std::max<std::size_t>(depth.parser_levels, f.levels());
    }
    return depth;
}

std::uint32_t inlined_comprehension_depth(const Expr& tree) {
    // Each node with the comprehensions open around it in its scope; a
    // work list, as chains make trees deeper than the call stack should go.
    std::vector<std::pair<const Expr*, std::uint32_t>> work{{&tree, 0}};
    std::uint32_t most = 0;
    const auto clauses = [&](const std::vector<pyexpr::Comprehension>& generators, std::uint32_t outer,
                             std::uint32_t inner) {
        bool first = true;
        for (const auto& clause : generators) {
            // The first iterable is evaluated in the enclosing scope.
            work.emplace_back(&clause.iter, first ? outer : inner);
            first = false;
            work.emplace_back(&clause.target, inner);
            for (const Expr& condition : clause.ifs) work.emplace_back(&condition, inner);
        }
    };
    while (!work.empty()) {
        // Named copies, not a structured binding: the lambdas below capture them.
        const Expr* const e = work.back().first;
        const std::uint32_t open = work.back().second;
        work.pop_back();
        switch (e->kind()) {
            case ExprKind::ListComp:
            case ExprKind::SetComp: {
                const auto* list = e->as_if<pyexpr::ExprListComp>();
                const Expr& elt = list != nullptr ? *list->elt : *e->as<pyexpr::ExprSetComp>().elt;
                most = std::max(most, open + 1);
                work.emplace_back(&elt, open + 1);
                clauses(list != nullptr ? list->generators : e->as<pyexpr::ExprSetComp>().generators, open, open + 1);
                break;
            }
            case ExprKind::DictComp: {
                const auto& n = e->as<pyexpr::ExprDictComp>();
                most = std::max(most, open + 1);
                work.emplace_back(n.key.get(), open + 1);
                work.emplace_back(n.value.get(), open + 1);
                clauses(n.generators, open, open + 1);
                break;
            }
            case ExprKind::Generator: {
                // A generator's code runs inside a handler of its own, which
                // takes one of the blocks before its comprehensions do.
                const auto& n = e->as<pyexpr::ExprGenerator>();
                work.emplace_back(n.elt.get(), 1);
                clauses(n.generators, open, 1);
                break;
            }
            case ExprKind::Lambda: {
                const auto& n = e->as<pyexpr::ExprLambda>();
                pyexpr::for_each_child(*e, [&](const Expr& child) {
                    work.emplace_back(&child, &child == n.body.get() ? 0 : open);
                });
                break;
            }
            default: pyexpr::for_each_child(*e, [&](const Expr& child) { work.emplace_back(&child, open); });
        }
    }
    return most;
}

bool too_deep_for_cpython(const Expr& tree, std::string_view text, std::uint32_t print_depth) {
    // A rewritten chain (`a.b.c...`) nests one call per link, so a chain the
    // parser takes can print deeper than CPython compiles. A printing level
    // keeps a bracket or two open below it (the standard-library corpus never
    // has more open than levels plus one), so shallow text needs no count.
    // Every other weight is that of an operator or a lambda, a node printed
    // at a level of its own.
    constexpr std::uint32_t kMaxBracketsPerLevel = 4;
    constexpr std::uint32_t kMaxParserLevelsPerLevel = kMaxBracketsPerLevel * kLaterItemBracket + kLambdaParameters;
    if (print_depth * kMaxParserLevelsPerLevel > kMaxParserLevels) {
        const SourceDepth depth = source_depth(text);
        if (depth.open_brackets > kMaxOpenBrackets || depth.parser_levels > kMaxParserLevels) return true;
    }
    // Each nested comprehension is a printing level and a " for " of its own.
    return print_depth > kMaxInlinedComprehensions && at_least_clauses(text, kMaxInlinedComprehensions + 1) &&
           inlined_comprehension_depth(tree) > kMaxInlinedComprehensions;
}

}  // namespace lumra::safe_eval
