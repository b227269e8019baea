#include "template/ast/shared_list.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <memory>
#include <stdexcept>
#include <utility>

#include "template/ast/open_names.h"

namespace lumra::template_ast {

// For each token of a store, the first record (by number) that leaves it out,
// or kListed: the leaves of a tree whose inner nodes hold their children's
// maximum. A run with the records [left_begin, left_end) lists the tokens
// whose first record is left_end or later: a record numbered below left_begin
// was written before the run began, so it covers none of its tokens. Finding
// the next listed token climbs the tree and descends again, in steps of the
// logarithm of the distance to it, so a read costs what it returns.
struct ListedIndex {
  std::uint32_t items = 0;    // the tokens covered
  std::uint32_t records = 0;  // the records applied
  std::size_t leaves = 1;     // a power of two, at least `items`
  std::vector<std::uint32_t> tree;  // a heap from 1; leaves at [leaves, 2 * leaves)
  // An index built before the store grew (while a parse writes it): runs
  // read then may still be reading it, so it goes with the store.
  ListedIndex* retired = nullptr;

  // Whether it covers a run that ends at `end` with records up to `left_end`.
  bool covers(std::size_t end, std::uint32_t left_end) const noexcept { return items >= end && records >= left_end; }
  // Whether the token at `i` is listed in a run whose records end at `bound`.
  bool listed(std::size_t i, std::uint32_t bound) const noexcept { return tree[leaves + i] >= bound; }

  // The first position from `from` on whose record is `bound` or later, or
  // `leaves` when there is none.
  std::size_t next(std::size_t from, std::uint32_t bound) const {
    if (from >= leaves) return leaves;
    std::size_t node = from + leaves;
    if (tree[node] >= bound) return from;
    while (true) {
      if (node == 1) return leaves;
      if ((node & 1) == 0 && tree[node + 1] >= bound) break;
      node >>= 1;
    }
    ++node;
    while (node < leaves) {
      node *= 2;
      if (tree[node] < bound) ++node;
    }
    return node - leaves;
  }
};

void drop_listed_index(ListedIndex* index) noexcept {
  while (index != nullptr) delete std::exchange(index, index->retired);
}

namespace {

constexpr std::uint32_t kListed = UINT32_MAX;

// Runs of at most this many tokens are walked: cheaper than the index, and
// the parser reads such runs while it is still writing the store (it reads
// a long one, the whole list, once it is done).
constexpr std::size_t kSwept = 64;
// A short run's walk gives up for the index when it would enter more than 8
// records that leave out keys (loops nested deeper around it), or take more
// than 16 of their keys (a loop over many names): the index pays for each
// once per store, where a walk pays at each read. The parser reads short
// runs while it writes the store, and those hold no such record: a loop's
// body is written out again only while it is short, and then leaves out every
// name. So the index is built for such reads once the store is whole.
struct WalkBudget {
  std::size_t records;
  std::size_t keys;
};
constexpr WalkBudget kShortWalk{8, 16};
constexpr WalkBudget kWholeWalk{SIZE_MAX, SIZE_MAX};

// A stack of record numbers, on the call stack while short: most walks meet
// a few records.
class RecordStack {
 public:
  RecordStack() = default;
  RecordStack(const RecordStack&) = delete;
  RecordStack& operator=(const RecordStack&) = delete;

  bool empty() const noexcept { return size_ == 0; }
  std::uint32_t back() const noexcept { return data_[size_ - 1]; }
  void pop_back() noexcept { --size_; }
  void push_back(std::uint32_t record) {
    if (size_ == capacity_) grow();
    data_[size_++] = record;
  }

 private:
  void grow() {
    capacity_ *= 2;
    if (data_ == inline_.data()) {
      spilled_.assign(inline_.begin(), inline_.end());
    }
    spilled_.resize(capacity_);
    data_ = spilled_.data();
  }

  std::array<std::uint32_t, 32> inline_;
  std::vector<std::uint32_t> spilled_;
  std::uint32_t* data_ = inline_.data();
  std::size_t size_ = 0;
  std::size_t capacity_ = inline_.size();
};

// Pushes the outermost of the records [first, past) (a block's, or those
// written inside a record's range) by position descending, so that the next
// to meet by position is on top.
template <class Stack>
void push_outermost(const ListStore<Token>& store, std::uint32_t first, std::uint32_t past, Stack& stack) {
  for (std::uint32_t r = past; r > first; r = store.inside[r - 1]) stack.push_back(r - 1);
}

ListedIndex* build_index(const ListStore<Token>& store) {
  const std::size_t size = store.items.size();
  auto index = std::make_unique<ListedIndex>();
  index->items = static_cast<std::uint32_t>(size);
  index->records = static_cast<std::uint32_t>(store.left_out.size());
  index->leaves = std::bit_ceil(std::max<std::size_t>(size, 1));
  std::vector<std::uint32_t>& tree = index->tree;
  tree.assign(2 * index->leaves, 0);

  // A sweep of the whole store with its records, opened in nesting order
  // (opens_before). Open records form a stack; the records that leave out
  // every name keep the smallest number open, and OpenNames does so for each
  // key.
  // That order is the records' forest read from its roots, each record before
  // those inside it: reading it costs the records, where a sort would cost a
  // logarithm more.
  std::vector<std::uint32_t> order;
  order.reserve(store.left_out.size());
  {
    RecordStack pending;
    push_outermost(store, 0, static_cast<std::uint32_t>(store.left_out.size()), pending);
    while (!pending.empty()) {
      const std::uint32_t r = pending.back();
      pending.pop_back();
      if (store.left_out[r].from < store.left_out[r].to) order.push_back(r);
      push_outermost(store, store.inside[r], r, pending);
    }
  }
  assert(std::is_sorted(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return opens_before(&store.left_out[a], &store.left_out[b]);
  }));
  std::vector<std::uint32_t> open;
  std::vector<std::uint32_t> every_name;  // records that leave out every name
  OpenNames keyed;
  std::size_t next = 0;
  for (std::size_t i = 0; i < size; ++i) {
    while (!open.empty() && store.left_out[open.back()].to <= i) {
      const LeftOut& record = store.left_out[open.back()];
      if (record.keys_from == record.keys_to) {
        every_name.pop_back();
      } else {
        keyed.close();
      }
      open.pop_back();
    }
    for (; next < order.size() && store.left_out[order[next]].from <= i; ++next) {
      const std::uint32_t r = order[next];
      const LeftOut& record = store.left_out[r];
      open.push_back(r);
      if (record.keys_from == record.keys_to) {
        every_name.push_back(every_name.empty() ? r : std::min(r, every_name.back()));
      } else {
        keyed.open(store, r);
      }
    }
    const std::uint32_t first = std::min(every_name.empty() ? kListed : every_name.back(),
                                         keyed.first_leaving_out(store.items[i].content));
    tree[index->leaves + i] = first;
  }
  for (std::size_t node = index->leaves - 1; node >= 1; --node) {
    tree[node] = std::max(tree[2 * node], tree[2 * node + 1]);
  }
  return index.release();
}

// The store's index, built (again) when the one it has does not cover the run.
const ListedIndex& listed_index(const ListStore<Token>& store, std::size_t end, std::uint32_t left_end) {
  ListedIndex* index = store.listed.load(std::memory_order_acquire);
  while (index == nullptr || !index->covers(end, left_end)) {
    ListedIndex* built = build_index(store);
    built->retired = index;
    if (store.listed.compare_exchange_strong(index, built, std::memory_order_acq_rel, std::memory_order_acquire)) {
      return *built;
    }
    // Another read built one first; `index` now holds it.
    built->retired = nullptr;
    drop_listed_index(built);
  }
  return *index;
}

// Calls visit(context, token) for each token at [begin, end) that the records at
// [left_begin, left_end) do not leave out, in order. The records form a
// forest (ranges nest or lie apart, each written after those inside it), so
// the walk meets them by position from the outermost down: one that leaves
// out every name is jumped with all it holds, one that leaves out keys is
// entered. The records met are then at most the tokens of the run and the
// records entered, and the walk takes each set of keys once (OpenNames).
// Stops before it enters more records or takes more keys than `budget`, and
// gives the position it reached (`end` when it went through): the tokens
// before it are visited.
std::size_t walk_listed(const ListStore<Token>& store, std::size_t begin, std::size_t end, std::uint32_t left_begin,
                        std::uint32_t left_end, WalkBudget budget, void (*visit)(void*, const Token&),
                        void* context) {
  const std::vector<LeftOut>& records = store.left_out;
  // Records still to meet, the next by position last. The outermost records
  // of a block, read back from its end, come by position descending.
  RecordStack pending;
  push_outermost(store, left_begin, left_end, pending);
  std::size_t entered = 0;
  std::size_t taken = 0;
  RecordStack open;
  OpenNames names;
  for (std::size_t i = begin; i < end;) {
    while (!open.empty() && records[open.back()].to <= i) {
      names.close();
      open.pop_back();
    }
    if (!pending.empty() && records[pending.back()].from <= i) {
      const std::uint32_t r = pending.back();
      pending.pop_back();
      const LeftOut& record = records[r];
      if (record.keys_from == record.keys_to) {
        // Every name of the range is left out, and so are the records inside it.
        i = std::max<std::size_t>(i, record.to);
        continue;
      }
      if (budget.keys != SIZE_MAX) taken += names.keys_to_take(store, r);
      if (++entered > budget.records || taken > budget.keys) return i;
      open.push_back(r);
      names.open(store, r);
      push_outermost(store, store.inside[r], r, pending);
      continue;
    }
    // The tokens up to the next record's start or the innermost open one's end.
    std::size_t stop = end;
    if (!pending.empty()) stop = std::min<std::size_t>(stop, records[pending.back()].from);
    if (open.empty()) {
      for (; i < stop; ++i) visit(context, store.items[i]);
      continue;
    }
    stop = std::min<std::size_t>(stop, records[open.back()].to);
    for (; i < stop; ++i) {
      if (!names.leaves_out(store.items[i].content)) visit(context, store.items[i]);
    }
  }
  return end;
}

}  // namespace

void check_list_room(std::size_t size) {
  if (size >= UINT32_MAX - 1) throw std::length_error("too many items in one template's lists");
}

void for_each_listed_by_walk(const ListStore<Token>& store, std::size_t begin, std::size_t end,
                              std::uint32_t left_begin, std::uint32_t left_end, void (*visit)(void*, const Token&),
                              void* context) {
  walk_listed(store, begin, end, left_begin, left_end, kWholeWalk, visit, context);
}

void for_each_listed(const ListStore<Token>& store, std::size_t begin, std::size_t end, std::uint32_t left_begin,
                     std::uint32_t left_end, void (*visit)(void*, const Token&), void* context) {
  if (end - begin <= kSwept) {
    const ListedIndex* index = store.listed.load(std::memory_order_acquire);
    std::size_t from = begin;
    if (index == nullptr || !index->covers(end, left_end)) {
      // Where the walk gives up, the index reads on.
      from = walk_listed(store, begin, end, left_begin, left_end, kShortWalk, visit, context);
      if (from == end) return;
      index = &listed_index(store, end, left_end);
    }
    for (std::size_t i = from; i < end; ++i) {
      if (index->listed(i, left_end)) visit(context, store.items[i]);
    }
    return;
  }
  if (!store.read_long.exchange(true, std::memory_order_relaxed)) {
    walk_listed(store, begin, end, left_begin, left_end, kWholeWalk, visit, context);
    return;
  }
  const ListedIndex& index = listed_index(store, end, left_end);
  for (std::size_t i = index.next(begin, left_end); i < end; i = index.next(i + 1, left_end)) {
    visit(context, store.items[i]);
  }
}

}  // namespace lumra::template_ast
