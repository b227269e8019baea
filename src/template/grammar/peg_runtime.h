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
// after p". Most questions move forward, each from past the last answer; the
// tries of a raw end tag and failed alternatives go back over stretches
// searched before, in any order, and no such question may cost a search of
// what was searched already.
//
// The last search is remembered: an occurrence found at f from q answers
// every p in [q, f] ("none from q" every p >= q). A question past it and past
// everything settled is a fresh search, as it would be without any of this;
// the stretch the remembered one covered is forgotten (a later question there
// searches it once more, and then settles it). Any other question first
// settles the remembered stretch into the table: per 64-byte block, a bit per
// offset whose answer is known ("settled": nothing starts between it and its
// answer), a bit per occurrence found, and the answer of the block's first
// offset when that is settled. A settled offset is answered with a mask and a
// count of trailing zeros, or one load. An unsettled one is searched up to the
// next occurrence or settled offset, in windows that double, so that it reads
// at most about twice what it then settles. So each offset is read a bounded
// number of times in a parse, whatever the order of the questions, and every
// answer is that of a fresh search (overlapping occurrences, `"""` at both
// ends of `""""`, included).
class TerminatorSearch {
 public:
  explicit TerminatorSearch(std::string_view needle) noexcept : needle_(needle) {}

  static constexpr std::uint32_t kNone = UINT32_MAX;

  // The offsets searched so far, and 64 for each block whose settled bits
  // were read: a bounded number per offset of the input and per question,
  // however it is asked.
  std::uint64_t reads() const noexcept { return read_; }

  std::uint32_t find(std::string_view input, std::uint32_t from) {
    if (from >= last_from_ && from < last_past_) return last_found_;
    if (from >= last_past_ && from >= settled_end_) {
      last_found_ = search(input, from, input.size());
      last_from_ = from;
      last_past_ = last_found_ == kNone ? kNone : last_found_ + 1;
      return last_found_;
    }
    return find_settled(input, from);
  }

 private:
  struct Block {
    std::uint64_t settled;  // offsets whose answer is known
    std::uint64_t found;    // occurrences
    std::uint32_t first;    // the answer of the block's first offset, when settled
  };

  // The first occurrence that starts in [from, before), or kNone.
  std::uint32_t search(std::string_view input, std::uint32_t from, std::size_t before) {
    const std::string_view part = input.substr(0, std::min(input.size(), before + needle_.size() - 1));
    const std::size_t at = needle_.size() == 1 ? part.find(needle_[0], from) : part.find(needle_, from);
    const bool found = at != std::string_view::npos && at < before;
    read_ += (found ? at : before) - from;
    return found ? static_cast<std::uint32_t>(at) : kNone;
  }

  [[gnu::noinline]] std::uint32_t find_settled(std::string_view input, std::uint32_t from) {
    const auto n = static_cast<std::uint32_t>(input.size());
    if (!blocks_) blocks_ = std::make_unique<Block[]>((n >> 6) + 2);
    if (last_from_ != kNone) {
      settle(n, last_from_, last_found_, last_found_ == kNone ? n + 1 : last_found_ + 1);
      last_from_ = kNone;
      last_past_ = 0;
    }
    if (is_settled(from)) return settled_answer(n, from);
    // Search in windows that double, each up to its first settled offset:
    // the search stops at the first occurrence or settled offset, and never
    // reads more than twice what it settles.
    for (std::uint64_t p = from, window_end = (from | 63) + 1;; p = window_end, window_end += window_end - from) {
      const auto end = static_cast<std::uint32_t>(std::min<std::uint64_t>(window_end, std::uint64_t{n} + 1));
      std::uint32_t next = end;
      for (auto block = static_cast<std::uint32_t>(p >> 6); block <= (end - 1) >> 6; ++block) {
        read_ += 64;
        std::uint64_t settled = blocks_[block].settled;
        if (block == p >> 6) settled &= ~std::uint64_t{0} << (p & 63);
        if (settled != 0) {
          next = std::min(end, (block << 6) + static_cast<std::uint32_t>(std::countr_zero(settled)));
          break;
        }
      }
      const std::uint32_t found = search(input, static_cast<std::uint32_t>(p), next);
      if (found != kNone) {
        settle(n, from, found, found + 1);
        return found;
      }
      if (next < end) {
        const std::uint32_t answer = settled_answer(n, next);
        settle(n, from, answer, next);
        return answer;
      }
      if (end > n) {
        settle(n, from, kNone, n + 1);
        return kNone;
      }
    }
  }

  bool is_settled(std::uint32_t p) const noexcept { return (blocks_[p >> 6].settled >> (p & 63) & 1) != 0; }

  std::uint32_t settled_answer(std::uint32_t n, std::uint32_t p) const noexcept {
    const std::uint32_t block = p >> 6;
    const std::uint64_t later = blocks_[block].found & (~std::uint64_t{0} << (p & 63));
    if (later != 0) return (block << 6) + static_cast<std::uint32_t>(std::countr_zero(later));
    // Nothing before the block's end, so the next block's first offset is
    // settled too, unless it lies past the input.
    return (block + 1) << 6 > n ? kNone : blocks_[block + 1].first;
  }

  // Offsets [from, end) have `answer`, which is found there when it is below end.
  void settle(std::uint32_t n, std::uint32_t from, std::uint32_t answer, std::uint32_t end) noexcept {
    if (answer < end) blocks_[answer >> 6].found |= std::uint64_t{1} << (answer & 63);
    end = std::min(end, n + 1);
    const std::uint32_t low = from >> 6;
    const std::uint32_t high = (end - 1) >> 6;
    const std::uint64_t from_low = ~std::uint64_t{0} << (from & 63);
    const std::uint64_t to_high = ~std::uint64_t{0} >> (63 - ((end - 1) & 63));
    if (low == high) {
      blocks_[low].settled |= from_low & to_high;
    } else {
      blocks_[low].settled |= from_low;
      for (std::uint32_t b = low + 1; b < high; ++b) blocks_[b].settled = ~std::uint64_t{0};
      blocks_[high].settled |= to_high;
    }
    for (std::uint32_t b = (from + 63) >> 6; b <= high; ++b) blocks_[b].first = answer;
    settled_end_ = std::max(settled_end_, end);
  }

  std::string_view needle_;
  // The remembered search: from last_from_ (kNone: none), found last_found_,
  // answering every offset below last_past_.
  std::uint32_t last_from_ = kNone;
  std::uint32_t last_found_ = kNone;
  std::uint32_t last_past_ = 0;
  // No offset at or after it is settled.
  std::uint32_t settled_end_ = 0;
  std::unique_ptr<Block[]> blocks_;
  std::uint64_t read_ = 0;
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
