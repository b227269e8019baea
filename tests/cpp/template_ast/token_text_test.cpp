#include "template/ast/token_text.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "hashing/keyed_hash.h"

namespace lumra::template_ast {
namespace {

TEST(TokenText, SlicesShareOnlyWhatLiesInside) {
  // `whole` is itself a slice, so a part may start inside it and run past its end.
  const TokenText buffer("<p><div>{{ x }}</div></p>");
  const TokenText whole = TokenText::slice_of(buffer, buffer.view().substr(3, 18));
  ASSERT_EQ(whole, "<div>{{ x }}</div>");
  const std::string elsewhere = "{{ x }}";
  struct Case {
    std::string_view part;
    bool shared;
  };
  for (const Case c : {Case{whole.view().substr(5, 7), true}, Case{whole.view(), true},
                       Case{whole.view().substr(18), false}, Case{elsewhere, false},
                       Case{buffer.view().substr(8, 13), true},
                       Case{buffer.view().substr(8, 15), false}, Case{buffer.view().substr(0, 5), false}}) {
    const TokenText slice = TokenText::slice_of(whole, c.part);
    EXPECT_EQ(slice, c.part);
    EXPECT_EQ(slice.shares_buffer_with(whole), c.shared) << c.part;
  }
}

TEST(TokenText, CopiesOutliveTheirSource) {
  TokenText kept;
  {
    const TokenText whole(std::string(1000, 'a') + "needle");
    kept = TokenText::slice_of(whole, whole.view().substr(1000));
    TokenText moved = std::move(kept);
    kept = moved;
    EXPECT_TRUE(moved.empty() == false && moved.shares_buffer_with(whole));
  }
  EXPECT_EQ(kept, "needle");
  EXPECT_EQ(fmt::format("[{}]", kept), "[needle]");
  EXPECT_EQ(hashing::TextSet<TokenText>({kept, TokenText("needle")}).size(), 1u);
  EXPECT_LT(TokenText("a"), TokenText("b"));
  EXPECT_EQ(TokenText(""), TokenText());
  EXPECT_EQ(TokenText().data()[0], '\0');
}

// Copies on several threads at once keep the count exact (checked by the
// sanitizer build and by the text surviving its last copy).
TEST(TokenText, ConcurrentCopies) {
  const TokenText whole("shared by every thread");
  std::vector<TokenText> kept(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        TokenText copy = TokenText::slice_of(whole, whole.view().substr(0, 6));
        if (i % 1000 == 0) kept[t] = copy;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& k : kept) EXPECT_TRUE(k.shares_buffer_with(whole) && k == "shared");
}

// A batch takes references ahead and gives back what it did not hand out:
// once it is gone, the count is exactly the texts alive, whichever buffers it
// moved between and whether or not it outlived the texts it copied.
TEST(TokenBatch, CountsStayExact) {
  const TokenText a("first buffer");
  const TokenText b("second buffer");
  std::vector<TokenText> kept;
  {
    TokenBatch batch(3);
    for (int i = 0; i < 10; ++i) kept.push_back(batch.slice(a, a.view().substr(0, 5)));
    kept.push_back(batch.copy(b));
    kept.push_back(batch.slice(b, "outside"));
    kept.push_back(batch.copy(TokenText()));
    kept.push_back(batch.copy(a));
    EXPECT_GT(a.buffer_references(), 12u);  // the batch's unused references
  }
  EXPECT_EQ(a.buffer_references(), 12u);
  EXPECT_EQ(b.buffer_references(), 2u);
  EXPECT_EQ(kept[0], "first");
  EXPECT_TRUE(kept[0].shares_buffer_with(a) && kept[10].shares_buffer_with(b) && !kept[11].shares_buffer_with(b));
  EXPECT_EQ(kept[11], "outside");
  EXPECT_TRUE(kept[12].empty());

  // The batch outlives every text over its buffer: giving back frees it (the
  // sanitizer build sees a leak or a second free otherwise).
  TokenText survivor;
  {
    TokenBatch batch(100);
    {
      const TokenText short_lived("gone before the batch");
      TokenText copy = batch.copy(short_lived);
      survivor = batch.slice(short_lived, short_lived.view().substr(0, 4));
      EXPECT_EQ(short_lived.buffer_references(), 101u);
    }
    EXPECT_EQ(survivor.buffer_references(), 99u);  // it and the 98 not handed out
  }
  EXPECT_EQ(survivor.buffer_references(), 1u);
  EXPECT_EQ(survivor, "gone");
}

TEST(TokenBatch, AssignSliceReplacesInPlace) {
  const TokenText a("first buffer");
  const TokenText b("second buffer");
  TokenText target = b;  // the old content must be given back
  {
    TokenBatch batch(4);
    batch.assign_slice(target, a, a.view().substr(6));
    EXPECT_EQ(target, "buffer");
    EXPECT_TRUE(target.shares_buffer_with(a));
    EXPECT_EQ(b.buffer_references(), 1u);
    batch.assign_slice(target, a, "outside");  // not in the buffer: a copy
    EXPECT_EQ(target, "outside");
    EXPECT_FALSE(target.shares_buffer_with(a));
  }
  EXPECT_EQ(a.buffer_references(), 1u);
}

TEST(TokenBatch, OneBatchPerThread) {
  const TokenText whole("shared by every thread");
  std::vector<std::vector<TokenText>> kept(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      TokenBatch batch(7);
      for (int i = 0; i < 20000; ++i) {
        TokenText copy = i % 2 ? batch.copy(whole) : batch.slice(whole, whole.view().substr(0, 6));
        if (i % 1000 == 0) kept[t].push_back(std::move(copy));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(whole.buffer_references(), 1u + 4 * 20);
}

}  // namespace
}  // namespace lumra::template_ast
