// The subsets of a job's group fields that the engine's queries bind, and the
// one helper that binds such a subset as text.
#pragma once

#include <initializer_list>

#include "storage/ResultRow.h"
#include "storage/Statement.h"

namespace sfad {

using ColumnList = std::initializer_list<const char*>;

// CLIENT, POLICY, POLICY_TYPE, APP_TYPE, SCHEDULE_TYPE, SCHEDULE_NAME: the
// order of the history queries of training-set selection.
constexpr ColumnList kPolicyFields = {"CLIENT",   "POLICY",        "POLICY_TYPE",
                                      "APP_TYPE", "SCHEDULE_TYPE", "SCHEDULE_NAME"};

// The eight columns that key a stored model, in the order of its queries.
constexpr ColumnList kModelKeyFields = {"CLIENT",
                                        "POLICY",
                                        "POLICY_TYPE",
                                        "SCHEDULE_TYPE",
                                        "SCHEDULE_NAME",
                                        "APP_TYPE",
                                        "DESTINATION_STORAGE_NAME",
                                        "ASSET_ID"};

// Binds the job's columns as text to consecutive parameters from `first` on;
// answers the next free parameter number.
inline int bindFields(Quorvan::Stowfleet::UsageReporting::Statement& statement,
                      const Quorvan::Stowfleet::UsageReporting::ResultRow& job, ColumnList columns,
                      int first = 1) {
  int parameter = first;
  for (const char* column : columns) statement.bindText(parameter++, job.text(column));
  return parameter;
}

}  // namespace sfad
