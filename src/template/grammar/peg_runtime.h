// The PEG runtime that the template recogniser drives.
//
// One PegState holds everything of one parse: the cursor (a byte offset), the
// flat record list, the mode (non-atomic, compound-atomic, atomic), the
// lookahead state, and the furthest failure with the rules expected and not
// expected there. rule() runs one rule call with the bookkeeping of its kind;
// sequence() and the lookaheads restore what a failed attempt changed. Rules
// themselves are plain member functions of the recogniser built on top.
//
// Conventions: offsets are 32-bit (the entry refuses larger inputs); the
// input is UTF-8 and only ASCII bytes are ever compared, so byte loops stop on
// character boundaries; a multi-byte character is stepped over whole.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "template/grammar/pairs.h"
#include "template/grammar/rule.h"

namespace lumra::grammar::detail {

enum class Mode : std::uint8_t { non_atomic, compound_atomic, atomic };
enum class Lookahead : std::uint8_t { none, positive, negative };

// Length of the UTF-8 sequence that starts with `lead`; a stray byte counts as
// one so that malformed input still advances.
inline std::uint32_t utf8_length(unsigned char lead) noexcept {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF8 ? 4 : 1;
}

// Every search for one terminator in one parse: "the first occurrence at or
// after p". The parse asks from anywhere and in any order (the tries of a raw
// end tag and failed alternatives go back over stretches searched before),
// so no answer may cost a search of its own. Occurrences are found once,
// forward and only as far as the questions reach, and kept as one bit per
// byte in blocks of 64 bytes, with each block's first occurrence at or after
// its start. An answer inside the searched stretch is one mask and a count of
// trailing zeros, or one load; a question beyond it resumes the forward
// search. Every search resumes one byte after the last occurrence, so
// overlapping occurrences (`"""` at both ends of `""""`) are all kept, and
// every answer is that of a fresh search.
class TerminatorSearch {
 public:
  explicit TerminatorSearch(std::string_view needle) noexcept : needle_(needle) {}

  static constexpr std::uint32_t kNone = UINT32_MAX;

  std::uint32_t find(std::string_view input, std::uint32_t from) {
    if (from < searched_) {
      const std::uint32_t block = from >> 6;
      const std::uint64_t later = blocks_[block].bits & (~std::uint64_t{0} << (from & 63));
      if (later != 0) return (block << 6) + static_cast<std::uint32_t>(std::countr_zero(later));
      if (block + 1 < blocks_.size()) return blocks_[block + 1].first;
    }
    return search_on(input, from);
  }

 private:
  struct Block {
    std::uint64_t bits;   // occurrences that start in the block
    std::uint32_t first;  // the first occurrence at or after the block's start
  };

  // The first occurrence at or after `from`, which lies past every one kept.
  std::uint32_t search_on(std::string_view input, std::uint32_t from) {
    while (!exhausted_) {
      const std::size_t at = needle_.size() == 1 ? input.find(needle_[0], searched_) : input.find(needle_, searched_);
      if (at == std::string_view::npos) {
        exhausted_ = true;
        break;
      }
      const auto found = static_cast<std::uint32_t>(at);
      // The blocks that start after the last occurrence and up to this one
      // have this one first.
      while (blocks_.size() <= found >> 6) blocks_.push_back(Block{0, found});
      blocks_.back().bits |= std::uint64_t{1} << (found & 63);
      searched_ = found + 1;
      if (found >= from) return found;
    }
    return kNone;
  }

  std::string_view needle_;
  // Every occurrence that starts before `searched_` is kept; it is one past
  // the last one found (0 before the first).
  std::uint32_t searched_ = 0;
  bool exhausted_ = false;
  std::vector<Block> blocks_;
};

// Entries by input offset, in pages of 256 allocated on the first write to
// them: a lookup is two loads, nothing is hashed, and memory goes only where
// entries are. Entries start value-initialised.
template <class Entry>
class PositionTable {
 public:
  const Entry* find(std::uint32_t offset) const noexcept {
    const std::size_t page = offset >> kPageBits;
    return page < pages_.size() && pages_[page] ? &pages_[page][offset & kPageMask] : nullptr;
  }

  Entry& at(std::uint32_t offset) {
    const std::size_t page = offset >> kPageBits;
    if (page >= pages_.size()) pages_.resize(page + 1);
    if (!pages_[page]) pages_[page] = std::make_unique<Entry[]>(std::size_t{1} << kPageBits);
    return pages_[page][offset & kPageMask];
  }

 private:
  static constexpr unsigned kPageBits = 8;
  static constexpr std::uint32_t kPageMask = (1u << kPageBits) - 1;
  std::vector<std::unique_ptr<Entry[]>> pages_;
};

class PegState {
 public:
  // `track_attempts`: keep the furthest failure with its expected and
  // unexpected rules. Only a failed parse reports them, so a first run can go
  // without and a failure be run again with them: the records and the outcome
  // are the same either way.
  PegState(std::string_view input, bool track_attempts)
      : input_(input),
        s_(reinterpret_cast<const unsigned char*>(input.data())),
        n_(static_cast<std::uint32_t>(input.size())),
        track_attempts_(track_attempts),
        // Typical templates leave about two entries per three bytes: room for
        // one per byte spares the regrowth, and the pages never reached are
        // never touched.
        queue_(input.size() + 16) {}

  // --- cursor --------------------------------------------------------------

  std::uint32_t pos() const noexcept { return pos_; }
  bool at_end() const noexcept { return pos_ >= n_; }
  bool has(std::uint32_t count) const noexcept { return n_ - pos_ >= count; }
  unsigned char byte_at(std::uint32_t offset) const noexcept { return s_[offset]; }

  bool byte(char c) noexcept {
    if (pos_ < n_ && s_[pos_] == static_cast<unsigned char>(c)) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool peek_literal(std::string_view lit) const noexcept {
    if (n_ - pos_ < lit.size()) return false;
    // Literals are a few bytes long: a plain loop beats a memcmp call.
    for (std::size_t i = 0; i < lit.size(); ++i) {
      if (s_[pos_ + i] != static_cast<unsigned char>(lit[i])) return false;
    }
    return true;
  }

  bool literal(std::string_view lit) noexcept {
    if (!peek_literal(lit)) return false;
    pos_ += static_cast<std::uint32_t>(lit.size());
    return true;
  }

  bool next_is(char c) const noexcept {
    return pos_ < n_ && s_[pos_] == static_cast<unsigned char>(c);
  }

  // ANY: one whole character.
  bool any() noexcept {
    if (pos_ >= n_) return false;
    pos_ = std::min(n_, pos_ + utf8_length(s_[pos_]));
    return true;
  }

  // --- rule calls ----------------------------------------------------------

  // One call of `rule` of kind `K` whose body is `body` (returns bool).
  template <RuleKind K, class Body>
  bool rule(Rule rule, Body&& body) {
    if (fatal_) return false;
    if constexpr (K == RuleKind::silent) {
      return body();
    } else {
      const std::uint32_t p = pos_;
      const Mode caller_mode = mode_;
      if constexpr (K == RuleKind::compound_atomic) mode_ = Mode::compound_atomic;

      std::uint32_t entry_expected = 0;
      std::uint32_t entry_unexpected = 0;
      if (track_attempts_ && furthest_ == p) {
        entry_expected = static_cast<std::uint32_t>(expected_.size());
        entry_unexpected = static_cast<std::uint32_t>(unexpected_.size());
      }

      const std::uint32_t mark = static_cast<std::uint32_t>(queue_.size());
      const bool recorded = lookahead_ == Lookahead::none && mode_ != Mode::atomic;
      if (recorded) queue_.push_back(RecordEntry{p, 0, rule, true});

      bool matched;
      if constexpr (K == RuleKind::atomic) {
        const Mode outer = mode_;
        mode_ = Mode::atomic;
        matched = body();
        mode_ = outer;
      } else {
        matched = body();
      }

      if (matched) {
        if (lookahead_ == Lookahead::negative) count(rule, p, entry_expected, entry_unexpected);
        if (recorded) {
          const std::uint32_t close = static_cast<std::uint32_t>(queue_.size());
          queue_.push_back(RecordEntry{pos_, mark, rule, false});
          queue_[mark].partner = close;
        }
      } else {
        if (lookahead_ != Lookahead::negative) count(rule, p, entry_expected, entry_unexpected);
        queue_.truncate(mark);
        pos_ = p;
      }
      mode_ = caller_mode;
      return matched;
    }
  }

  // Exactly what rule<K>(rule, body) does when `body` fails before it consumes
  // anything or calls another rule (its first literal does not match): only
  // the error report changes. Returns false, for use as the rule's result.
  template <RuleKind K>
  bool rule_fails_at_once(Rule rule) {
    // Without attempt tracking such a try changes nothing at all.
    if (fatal_ || !track_attempts_) return false;
    if constexpr (K != RuleKind::silent) {
      if (lookahead_ == Lookahead::negative) return false;
      const Mode caller_mode = mode_;
      if constexpr (K == RuleKind::compound_atomic) mode_ = Mode::compound_atomic;
      if (furthest_ == pos_) {
        count(rule, pos_, static_cast<std::uint32_t>(expected_.size()),
              static_cast<std::uint32_t>(unexpected_.size()));
      } else {
        count(rule, pos_, 0, 0);
      }
      mode_ = caller_mode;
    }
    return false;
  }

  // `a ~ b ~ ...`: on failure, the cursor and the records go back to the start.
  template <class Body>
  bool sequence(Body&& body) {
    const std::uint32_t p = pos_;
    const std::size_t mark = queue_.size();
    if (body()) return true;
    pos_ = p;
    queue_.truncate(mark);
    return false;
  }

  // `!e`: consumes nothing; succeeds exactly when `e` fails.
  template <class Body>
  bool not_followed_by(Body&& body) {
    const Lookahead outer = lookahead_;
    const std::uint32_t p = pos_;
    lookahead_ = outer == Lookahead::negative ? Lookahead::positive : Lookahead::negative;
    const bool matched = body();
    pos_ = p;
    lookahead_ = outer;
    return !matched;
  }

  // --- fatal errors ----------------------------------------------------------

  // Ends the parse: every later rule call fails at once, so the recursion
  // unwinds without trying alternatives, and the entry reports `message`.
  void fail_fatally(std::uint32_t at, std::string message) {
    if (fatal_) return;
    fatal_ = true;
    fatal_pos_ = at;
    fatal_message_ = std::move(message);
  }
  bool fatal() const noexcept { return fatal_; }
  std::uint32_t fatal_pos() const noexcept { return fatal_pos_; }
  std::string& fatal_message() noexcept { return fatal_message_; }

  // --- results ---------------------------------------------------------------

  RecordList& records() noexcept { return queue_; }
  bool tracks_attempts() const noexcept { return track_attempts_; }
  std::uint32_t furthest() const noexcept { return furthest_; }
  std::vector<Rule>& expected() noexcept { return expected_; }
  std::vector<Rule>& unexpected() noexcept { return unexpected_; }

 protected:
  std::string_view input_;
  const unsigned char* s_;
  std::uint32_t n_;
  std::uint32_t pos_ = 0;
  bool track_attempts_;

 private:
  // Counts a rule called at `p` for the error report, in the caller's mode
  // (the rule's own for a compound-atomic rule).
  void count(Rule rule, std::uint32_t p, std::uint32_t entry_expected,
             std::uint32_t entry_unexpected) {
    if (track_attempts_ && mode_ != Mode::atomic) count_attempt(rule, p, entry_expected, entry_unexpected);
  }

  void count_attempt(Rule rule, std::uint32_t p, std::uint32_t entry_expected,
                     std::uint32_t entry_unexpected) {
    const std::size_t current = furthest_ == p ? expected_.size() + unexpected_.size() : 0;
    // Exactly one attempt inside this rule at p: that rule already stands for it.
    if (current == std::size_t{entry_expected} + entry_unexpected + 1) return;
    if (p == furthest_) {
      expected_.resize(std::min<std::size_t>(entry_expected, expected_.size()));
      unexpected_.resize(std::min<std::size_t>(entry_unexpected, unexpected_.size()));
    } else if (p > furthest_) {
      expected_.clear();
      unexpected_.clear();
      furthest_ = p;
    }
    if (p == furthest_) {
      (lookahead_ == Lookahead::negative ? unexpected_ : expected_).push_back(rule);
    }
  }

  RecordList queue_;
  Mode mode_ = Mode::non_atomic;
  Lookahead lookahead_ = Lookahead::none;
  std::uint32_t furthest_ = 0;
  std::vector<Rule> expected_;
  std::vector<Rule> unexpected_;
  bool fatal_ = false;
  std::uint32_t fatal_pos_ = 0;
  std::string fatal_message_;
};

}  // namespace lumra::grammar::detail
