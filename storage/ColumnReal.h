// A column read as the double that atof gives for the text SQLite makes of it (the value a
// ResultRow's asDouble answers), without making that text where that is provably the
// stored double itself.
#pragma once

#include <sqlite3.h>

namespace Quorvan::Stowfleet::UsageReporting {

// Whether atof of SQLite's text for this finite REAL is the value itself: SQLite writes a
// REAL with 15 significant digits, which give back exactly the doubles whose shortest
// decimal form has at most 15 digits, and no other.
bool realTextIsExact(double value);

// atof of the column's text (NULL reads as the empty text, 0.0) for the current row.
double columnAsTextDouble(sqlite3_stmt* statement, int column);

}  // namespace Quorvan::Stowfleet::UsageReporting
