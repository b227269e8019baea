// The names that open records leave out, against every open record checked
// at every query; and a set of names is taken once however many of its
// records open.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "template/ast/open_names.h"

namespace lumra::template_ast {
namespace {

// Records numbered inward, as a parse writes them (each after those inside
// it), over sets drawn from few names: nested sets share names here, which a
// parse refuses as shadowing, so a set must give back what it takes.
TEST(OpenNames, LeaveOutWhatTheOpenRecordsHold) {
  // "ﬁ" is "fi"; more than a few keys are looked up rather than scanned.
  std::vector<std::string> pool = {"a", "b", "c", "fi", "\xef\xac\x81", "x"};
  for (int i = 0; i < 14; ++i) pool.push_back("k" + std::to_string(i));
  std::mt19937 random(58);
  for (int round = 0; round < 300; ++round) {
    ListStore<Token> store;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sets;
    for (int s = 1 + static_cast<int>(random() % 5); s > 0; --s) {
      const auto from = static_cast<std::uint32_t>(store.keys.size());
      for (unsigned k = 1 + random() % (s == 1 ? 20 : 4); k > 0; --k) {
        store.keys.emplace_back(VariableKey(pool[random() % pool.size()]).view());
      }
      sets.emplace_back(from, static_cast<std::uint32_t>(store.keys.size()));
    }
    for (int r = 0; r < 200; ++r) {
      const auto& [from, to] = sets[random() % sets.size()];
      store.left_out.push_back({0, 1, from, to});
    }

    OpenNames names;
    std::vector<std::uint32_t> open;
    for (int step = 0; step < 400; ++step) {
      const std::uint32_t below = open.empty() ? 200 : open.back();
      if (below > 0 && random() % 3 != 0) {
        open.push_back(static_cast<std::uint32_t>(random() % below));
        names.open(store, open.back());
      } else if (!open.empty()) {
        open.pop_back();
        names.close();
      }
      for (const std::string& name : pool) {
        const VariableKey key(name);
        std::uint32_t least = OpenNames::kNone;
        for (const std::uint32_t r : open) {
          const LeftOut& record = store.left_out[r];
          for (std::uint32_t k = record.keys_from; k < record.keys_to; ++k) {
            if (store.keys[k] == key.view()) least = std::min(least, r);
          }
        }
        ASSERT_EQ(names.first_leaving_out(name), least) << "round " << round << " step " << step << " " << name;
      }
    }
  }
}

// An element loop's body, with a loop over another name inside, then its
// attributes, each with a record over one set: the set's names are taken at
// the first record only.
TEST(OpenNames, ASetIsTakenOnce) {
  ListStore<Token> store;
  for (int i = 0; i < 1000; ++i) store.keys.push_back("t" + std::to_string(i));
  store.keys.push_back("y");
  store.left_out.push_back({0, 1, 1000, 1001});
  for (int r = 0; r < 100; ++r) store.left_out.push_back({0, 1, 0, 1000});
  OpenNames names;
  std::size_t taken = 0;
  for (std::uint32_t r = 1; r <= 100; ++r) {
    taken += names.keys_to_take(store, r);
    names.open(store, r);
    EXPECT_EQ(names.first_leaving_out("t999"), r);
    if (r == 1) {
      taken += names.keys_to_take(store, 0);
      names.open(store, 0);
      EXPECT_TRUE(names.leaves_out("y") && names.leaves_out("t5") && !names.leaves_out("z"));
      names.close();
    }
    names.close();
    EXPECT_FALSE(names.leaves_out("t5"));
  }
  EXPECT_EQ(taken, 1001u);
}

}  // namespace
}  // namespace lumra::template_ast
