// Reads database contents as text rows, independent of the code under test, so that
// suites can compare what a request left in the file.
#pragma once

#include <string>
#include <vector>

namespace sfad::test {

using TextRows = std::vector<std::vector<std::string>>;

// Every row of a query, each column as text; NULL reads as "NULL".
TextRows queryRows(const std::string& databasePath, const std::string& sql);
// The first column of the first row ("" when there is no row).
std::string queryValue(const std::string& databasePath, const std::string& sql);
// Runs statements (several allowed) and raises on failure.
void executeSql(const std::string& databasePath, const std::string& sql);
// Every table's full contents in a stable order, for before/after comparisons.
std::string dumpDatabase(const std::string& databasePath);

}  // namespace sfad::test
