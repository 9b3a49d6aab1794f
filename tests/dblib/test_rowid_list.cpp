// The scrolling cursor's rowid list against a plain array: the same answers after any mix of
// appends (in runs and out of order), changes and deletes, and little memory for a result read
// in rowid order.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dblib/sqlite/RowidList.h"

using dbl::RowidList;

namespace {

void ExpectSame(const RowidList& list, const std::vector<int64_t>& model) {
  ASSERT_EQ(list.size(), model.size());
  for (size_t i = 0; i < model.size(); ++i)
    if (list[i] != model[i]) FAIL() << "index " << i << ": " << list[i] << " instead of " << model[i];
}

TEST(RowidList, AnyMixOfAppendsChangesAndDeletesReadsAsAPlainArray) {
  std::mt19937_64 rng(20261209);
  RowidList list;
  std::vector<int64_t> model;
  int64_t next = 1;
  for (int round = 0; round < 24; ++round) {
    // A run in order, then a few out of order (a jump, a step back, the largest rowid).
    const int run = static_cast<int>(rng() % (3 * RowidList::kChunk));
    for (int k = 0; k < run; ++k) {
      list.push_back(next);
      model.push_back(next++);
    }
    for (int64_t odd : {next + 1000, next - 5, INT64_MAX, next}) {
      list.push_back(odd);
      model.push_back(odd);
    }
    next += 2000;
    // Changes and deletes anywhere, the ends of chunks included.
    for (int k = 0; k < 20 && !model.empty(); ++k) {
      size_t at = rng() % model.size();
      if (k % 4 == 0) at = (rng() % (model.size() / RowidList::kChunk + 1)) * RowidList::kChunk;
      if (k % 4 == 1) at = model.size() - 1;
      at = std::min(at, model.size() - 1);
      if (rng() % 2) {
        const int64_t v = static_cast<int64_t>(rng() % 1000000);
        list.set(at, v);
        model[at] = v;
      } else {
        list.erase(at);
        model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
    ExpectSame(list, model);
  }
  // Deleted down to nothing and filled again.
  while (!model.empty()) {
    list.erase(0);
    model.erase(model.begin());
  }
  EXPECT_EQ(list.size(), 0u);
  list.push_back(7);
  model.push_back(7);
  ExpectSame(list, model);
}

TEST(RowidList, ARunInRowidOrderCostsAFewBytesPerChunkAnyOtherOrderEightPerRow) {
  RowidList ordered, shuffled;
  constexpr int64_t kRows = 1000000;
  for (int64_t r = 1; r <= kRows; ++r) ordered.push_back(r);
  for (int64_t r = 1; r <= kRows; ++r) shuffled.push_back((r * 7919) % kRows);
  EXPECT_EQ(ordered[kRows - 1], kRows);
  EXPECT_LT(ordered.MemoryBytes(), 64u * 1024u);
  EXPECT_LT(shuffled.MemoryBytes(), static_cast<size_t>(kRows) * 10u);
  // A deleted row in the middle of a running chunk: the rows after it move up by one.
  ordered.erase(5000);
  EXPECT_EQ(ordered[4999], 5000);
  EXPECT_EQ(ordered[5000], 5002);
  EXPECT_EQ(ordered.size(), static_cast<size_t>(kRows - 1));
}

}  // namespace
