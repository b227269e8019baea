// Printing a Python expression tree back to source text.
//
// The output is canonical rather than a copy of the input: spacing, quotes and
// parentheses follow fixed rules, and only the parentheses that the grammar
// needs are written, so printing and reparsing gives the same tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pyexpr/ast.h"

namespace lumra::codegen {

enum class LineEnding : uint8_t { Lf, Cr, CrLf };

constexpr std::string_view line_ending_text(LineEnding ending) {
    switch (ending) {
        case LineEnding::Cr: return "\r";
        case LineEnding::CrLf: return "\r\n";
        case LineEnding::Lf: break;
    }
    return "\n";
}

// Nesting deeper than this is not printed: the text stops growing and
// `too_deep()` reports it. The parser keeps its trees about half as tall.
inline constexpr uint32_t kMaxPrintDepth = 2000;

class Generator;

// Lets a caller print some nodes its own way: `print` is asked first for every
// node; when it returns true the node is printed, otherwise the usual form is
// written (and its children are offered to the hook in turn).
class PrintHook {
public:
    virtual bool print(Generator& g, const pyexpr::Expr& expr, uint8_t level) = 0;

protected:
    ~PrintHook() = default;
};

// The level of a call argument, list element or tuple item.
inline constexpr uint8_t kItemLevel = 21;

// One printing job: the text buffer and the layout settings.
class Generator {
public:
    explicit Generator(std::string_view indent_unit = "    ", LineEnding line_ending = LineEnding::Lf)
        : indent_unit_(indent_unit), line_ending_(line_ending) {}

    // Every write first emits the pending line breaks.
    void write(std::string_view text) {
        if (pending_line_breaks_ != 0) flush_line_breaks();
        out_.append(text);
    }
    void write(char c) {
        if (pending_line_breaks_ != 0) flush_line_breaks();
        out_.push_back(c);
    }
    void newlines(uint32_t count) { pending_line_breaks_ += count; }
    void reserve_more(size_t extra) { out_.reserve(out_.size() + extra); }
    // The buffer itself, for writers that append bit by bit (escaping);
    // pending line breaks are emitted first, as for any write.
    std::string& raw_buffer() {
        if (pending_line_breaks_ != 0) flush_line_breaks();
        return out_;
    }

    std::string_view indent_unit() const { return indent_unit_; }
    LineEnding line_ending() const { return line_ending_; }
    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

    // Set when a tree nested deeper than kMaxPrintDepth was cut short.
    bool too_deep() const { return too_deep_; }

    // The first name that could not be written so that it reads back as the
    // same name (see `source`); empty when there was none. Its text is then
    // not Python.
    const std::string& unwritable_name() const { return unwritable_name_; }
    void note_unwritable_name(std::string_view name) {
        if (unwritable_name_.empty()) unwritable_name_ = name;
    }
    // Either failure: the text is not to be used.
    bool failed() const { return too_deep_ || !unwritable_name_.empty(); }

    // Nesting guard for the printer's recursion; false when the limit is hit.
    bool enter() {
        if (depth_ >= kMaxPrintDepth) {
            too_deep_ = true;
            return false;
        }
        if (++depth_ > max_depth_) max_depth_ = depth_;
        return true;
    }
    void leave() { --depth_; }
    // The deepest nesting reached so far (including nested jobs absorbed).
    uint32_t max_depth() const { return max_depth_; }

    // Inside an f-string or t-string replacement field, outside any bracket, a
    // bare ':' would start the format spec, so a lambda there needs parentheses.
    bool colon_ends_field() const { return colon_ends_field_; }
    bool set_colon_ends_field(bool value) {
        bool old = colon_ends_field_;
        colon_ends_field_ = value;
        return old;
    }

    // The text the printed tree was parsed from, when the caller has it. A
    // self-documenting field (`{a+b=}`) then keeps its expression as written,
    // since that text becomes part of the string's value, and a name stored
    // as a keyword ("None" for "ℕone": names are kept in NFKC form) is
    // written as spelled there. Without a source such a name cannot be
    // written. Trees made or rewritten elsewhere must not be given a source.
    void set_source(std::string_view source) { source_ = source; }
    std::string_view source() const { return source_; }

    void set_hook(PrintHook* hook) { hook_ = hook; }
    PrintHook* hook() const { return hook_; }

    // A generator for a nested printing job with the same settings.
    Generator fresh() const {
        Generator g(indent_unit_, line_ending_);
        g.depth_ = depth_;
        g.source_ = source_;
        g.hook_ = hook_;
        return g;
    }
    // Carries a nested job's failures back.
    void absorb_failure(const Generator& nested) {
        too_deep_ = too_deep_ || nested.too_deep_;
        note_unwritable_name(nested.unwritable_name_);
        if (nested.max_depth_ > max_depth_) max_depth_ = nested.max_depth_;
    }

private:
    void flush_line_breaks() {
        std::string_view nl = line_ending_text(line_ending_);
        for (uint32_t i = 0; i < pending_line_breaks_; ++i) out_.append(nl);
        pending_line_breaks_ = 0;
    }

    std::string out_;
    std::string unwritable_name_;
    std::string_view indent_unit_;
    std::string_view source_;
    PrintHook* hook_ = nullptr;
    LineEnding line_ending_;
    uint32_t pending_line_breaks_ = 0;
    uint32_t depth_ = 0;
    uint32_t max_depth_ = 0;
    bool too_deep_ = false;
    bool colon_ends_field_ = false;
};

// Appends the printed form of `expr`. `level` is how tightly the surrounding
// context binds: a form whose precedence is below it gets parentheses.
void unparse_expr(Generator& g, const pyexpr::Expr& expr, uint8_t level);

// Appends the " for ... in ... if ..." clauses of a comprehension.
void unparse_comprehension(Generator& g, const std::vector<pyexpr::Comprehension>& clauses);

// Appends a call's arguments, positional and keyword in source order.
void unparse_arguments(Generator& g, const pyexpr::Arguments& arguments);

// Appends a plain string literal with the quotes and escapes of Python's repr.
void write_str_literal(Generator& g, std::string_view value);

// Appends a lambda's parameter list.
void unparse_parameters(Generator& g, const pyexpr::Parameters& parameters);

// The whole expression printed at the lowest level with a four-space indent
// unit, as safe_eval returns it. Empty optional when printing failed: the
// tree is nested too deeply, or holds a name stored as a keyword that
// only its source can spell.
std::optional<std::string> expression_to_source(const pyexpr::Expr& expr);
// The same for a tree parsed from `source` (see Generator::set_source).
std::optional<std::string> expression_to_source(const pyexpr::Expr& expr, std::string_view source);

}  // namespace lumra::codegen
