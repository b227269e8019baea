// The walk that rewrites a parsed expression in place (used by transform_expression).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hashing/keyed_hash.h"
#include "pyexpr/ast.h"

namespace lumra::safe_eval {

// A name read or assigned, with its byte range in the wrapped text.
struct RecordedName {
    pyexpr::Name name;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};

// How deep the rewriter recurses into a tree before it gives up with an error
// instead of risking the stack. The parser keeps its trees lower than this, so
// only hand-made trees can reach it.
inline constexpr std::uint32_t kMaxRewriteDepth = 1500;

// State of one rewrite.
//
// Scopes nest strictly (a lambda body or a comprehension is walked to its end
// before anything after it), so the names bound by the enclosing lambdas and
// comprehensions are kept as one stack that grows on entry and shrinks on exit,
// and every name read or assigned is appended to one list in walk order.
struct RewriteState {
    // `PendingComprehension`: a target of the comprehension whose first iterable
    // is being rewritten. That iterable runs outside the comprehension, so the
    // name is not bound there, but `:=` may not rebind it either.
    enum class Binder : std::uint8_t { Comprehension, Lambda, PendingComprehension };
    struct Bound {
        std::string_view name;  // points into the tree, which outlives the scope
        Binder binder;
    };

    explicit RewriteState(std::uint64_t prefix) : prefix_len(prefix) {}

    // Recorded errors: the last one recorded wins; the walk goes on.
    std::optional<std::string> error;
    // A failure ends the walk at once and is reported whatever was recorded.
    std::optional<std::string> failure;
    // The first f-string or t-string field written `*x`, which Python refuses:
    // its value would stand among the sandbox call's own arguments. Reported
    // as a parse error only when nothing else is.
    std::optional<pyexpr::TextRange> starred_field;
    // Off for callers that only print the tree.
    bool record_names = true;
    // Off for a check-only walk: the tree is left as parsed, the same errors are
    // found, and `kept_names` lists the name nodes the rewrite leaves alone
    // (names bound by an enclosing lambda or comprehension, and comprehension
    // targets), so that a printer can apply the rewrite as it prints.
    bool build_tree = true;
    std::vector<const pyexpr::Expr*> kept_names;
    std::vector<RecordedName> assigned_names;
    std::vector<RecordedName> used_names;
    std::vector<Bound> bound;
    std::uint64_t prefix_len;
    std::uint32_t depth = 0;

    // Per name, how many entries of `bound` bind it, indexed by Binder: a lookup
    // must not scan the stack, which holds one entry per comprehension clause.
    hashing::TextMap<std::string_view, std::array<std::uint32_t, 3>> bound_counts;

    bool is_bound_by(std::string_view name, Binder binder) const;
    bool is_bound(std::string_view name) const;
    // `bound` and `bound_counts` change only through these three.
    void bind(std::string_view name, Binder binder);
    // Drops the bindings made since `bound` had `mark` entries.
    void unbind_to(std::size_t mark);
    // Turns the pending bindings made since `mark` into comprehension bindings.
    void activate_pending(std::size_t mark);
};

// Rewrites `expr` and everything below it. Returns false when the walk failed
// (state.failure holds the message).
bool visit_expr(RewriteState& state, pyexpr::Expr& expr);

}  // namespace lumra::safe_eval
