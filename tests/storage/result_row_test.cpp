// A result row must keep the behaviour of an ordered map from column name to text under
// any sequence of writes: iteration by name, replacement by set, first value kept by
// setIfAbsent, and the empty text for a missing column.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "storage/ResultRow.h"

namespace {

using Quorvan::Stowfleet::UsageReporting::FieldValue;
using Quorvan::Stowfleet::UsageReporting::ResultRow;

TEST(ResultRow, BehavesLikeAnOrderedMapOfColumnTexts) {
  const std::string names[] = {"",           "A",          "AB", "B",
                               "DEDUP_RATE", "IMAGE_SIZE", "a",  "USER_IDENTIFIED_CLUSTER",
                               "COUNT(*)",   "\xff"};
  std::mt19937 random(99);
  std::uniform_int_distribution<int> pick(0, 9);
  for (int trial = 0; trial < 200; ++trial) {
    ResultRow row;
    std::map<std::string, std::string> expected;
    for (int step = 0; step < 30; ++step) {
      const std::string& name = names[pick(random)];
      const std::string text = std::to_string(trial * 100 + step);
      if (pick(random) < 5) {
        row.set(name, FieldValue(text));
        expected[name] = text;
      } else {
        row.setIfAbsent(name, FieldValue(text));
        expected.emplace(name, text);
      }
    }
    ASSERT_EQ(row.size(), expected.size());
    auto want = expected.begin();
    for (const auto& [name, value] : row) {
      EXPECT_EQ(name, want->first);
      EXPECT_EQ(value.text(), want->second);
      ++want;
    }
    for (const std::string& name : names) {
      EXPECT_EQ(row.has(name), expected.count(name) == 1) << name;
      EXPECT_EQ(row.text(name), expected.count(name) ? expected[name] : "") << name;
    }
  }
}

}  // namespace
