// A column read without its text gives the number atof (atoi) gives for SQLite's text,
// whatever the value: this pins the rule to the SQLite library the tool is linked with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "storage/ColumnNumber.h"
#include "storage/SQLiteDatabase.h"
#include "storage/Schema.h"
#include "storage/Statement.h"

namespace {

using Quorvan::Stowfleet::UsageReporting::columnAsTextDouble;
using Quorvan::Stowfleet::UsageReporting::columnAsTextInt;
using Quorvan::Stowfleet::UsageReporting::realTextIsExact;
using Quorvan::Stowfleet::UsageReporting::SQLiteDatabase;
using Quorvan::Stowfleet::UsageReporting::Statement;

std::uint64_t bits(double value) {
  std::uint64_t pattern;
  std::memcpy(&pattern, &value, sizeof pattern);
  return pattern;
}

// Stores every value in a REAL column and compares both reads of each row.
void expectBothReadsAgree(const std::vector<double>& values) {
  SQLiteDatabase db(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  db.execute("CREATE TABLE T (V REAL)");
  db.execute("BEGIN");
  Statement insert(db.handle(), "INSERT INTO T VALUES (?)");
  for (const double value : values) {
    insert.bindDouble(1, value);
    db.executeStatement(insert);
    insert.reset();
  }
  db.execute("INSERT INTO T VALUES (NULL), ('text'), (12), ('  7.5e3'), (9007199254740993)");
  db.execute("COMMIT");
  // Untyped: integers of any size stay integers.
  db.execute("CREATE TABLE U (V)");
  db.execute(
      "INSERT INTO U VALUES (0), (-1), (2147483647), (2147483648), (-2147483649), "
      "(9007199254740993), (-9007199254740993), (9223372036854775807), "
      "(-9223372036854775808), (123456789012345678), ('12abc'), (1.5)");
  for (const char* table : {"SELECT V FROM T", "SELECT V FROM U"}) {
    Statement select(db.handle(), table);
    while (sqlite3_step(select.handle()) == SQLITE_ROW) {
      const double direct = columnAsTextDouble(select.handle(), 0);
      const int directInt = columnAsTextInt(select.handle(), 0);
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select.handle(), 0));
      const double viaText = std::atof(text ? text : "");
      ASSERT_EQ(bits(direct), bits(viaText)) << (text ? text : "NULL");
      ASSERT_EQ(directInt, std::atoi(text ? text : "")) << (text ? text : "NULL");
    }
  }
}

TEST(ColumnNumberTest, EdgeValuesReadAsTheirText) {
  const double inf = std::numeric_limits<double>::infinity();
  expectBothReadsAgree({0.0,
                        -0.0,
                        1e20,
                        1e21,
                        1e15,
                        1e16,
                        123456789012345.0,
                        1234567890123456.0,
                        0.1 + 0.2,
                        0.1,
                        1.0 / 3.0,
                        5e-324,
                        2.2250738585072014e-308,
                        2.225073858507201e-308,
                        std::numeric_limits<double>::max(),
                        std::numeric_limits<double>::min(),
                        -1.5,
                        99.99999999999999,
                        4.35,
                        2.675,
                        1e-5,
                        inf,
                        -inf});
}

TEST(ColumnNumberTest, RandomValuesOfEveryLengthReadAsTheirText) {
  std::mt19937_64 random(20261211);
  std::vector<double> values;
  std::uniform_int_distribution<int> digits(1, 17);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    // Any bit pattern that is a finite double, then decimals of chosen length.
    std::uint64_t pattern = random();
    double value;
    std::memcpy(&value, &pattern, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
    const double mantissa = std::floor(std::ldexp(static_cast<double>(random() >> 11), -53) *
                                       std::pow(10.0, digits(random)));
    values.push_back(mantissa * std::pow(10.0, exponent(random)));
  }
  expectBothReadsAgree(values);
}

TEST(ColumnNumberTest, ShortFormsAreExactLongOnesAreNot) {
  EXPECT_TRUE(realTextIsExact(0.1));
  EXPECT_TRUE(realTextIsExact(123456789012345.0));
  EXPECT_FALSE(realTextIsExact(0.1 + 0.2));
  EXPECT_FALSE(realTextIsExact(1234567890123456.7));
  EXPECT_FALSE(realTextIsExact(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(realTextIsExact(std::nan("")));
}

}  // namespace
