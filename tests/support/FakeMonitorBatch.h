#pragma once
// A batch as a session's worker hands it over, read once from a fake monitor
// that plays these records: what the benchmarks apply again and again.

#include <vector>

#include "core/monitor/MonBatch.h"
#include "core/monitor/MonEncode.h"

// Ends the program with a message naming `program` when no batch comes.
MonBatch ReadFakeMonitorBatch(const std::vector<MonBytes>& records, const char* program);
