// A column read as the number that atof or atoi gives for the text SQLite makes of it (the
// value a ResultRow's asDouble or asInt answers), without making that text where the
// number is provably the stored value itself.
#pragma once

#include <sqlite3.h>

namespace Quorvan::Stowfleet::UsageReporting {

// Whether atof of SQLite's text for this finite REAL is the value itself: SQLite writes a
// REAL with 15 significant digits, which give back exactly the doubles whose shortest
// decimal form has at most 15 digits, and no other.
bool realTextIsExact(double value);

// atof of the column's text (NULL reads as the empty text, 0.0) for the current row. An
// INTEGER is its decimal digits, which atof rounds to the nearest double as the
// conversion does.
double columnAsTextDouble(sqlite3_stmt* statement, int column);
// atoi of the column's text; an INTEGER within the int range is itself.
int columnAsTextInt(sqlite3_stmt* statement, int column);

}  // namespace Quorvan::Stowfleet::UsageReporting
