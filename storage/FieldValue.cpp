// Text-to-number conversions of a column value.
#include "storage/FieldValue.h"

#include <cstdlib>

namespace Quorvan::Stowfleet::UsageReporting {

int FieldValue::asInt() const { return std::atoi(text_.c_str()); }

double FieldValue::asDouble() const { return std::atof(text_.c_str()); }

}  // namespace Quorvan::Stowfleet::UsageReporting
