#include "support/FakeMonitorBatch.h"

#include <cstdio>
#include <cstdlib>

#include "core/base/SessionLimits.h"
#include "core/monitor/MonStream.h"
#include "support/FakeMonitor.h"

MonBatch ReadFakeMonitorBatch(const std::vector<MonBytes>& records, const char* program) {
    FakeMonitor monitor;
    monitor.QueueBatch(records);
    MonitorConnection* reader = nullptr;
    MonBatch batch;
    if (Mon_Open(monitor.Host().c_str(), &reader) != 0 ||
        Mon_ReadBatch(reader, batch, GetSessionLimits()) != 0) {
        std::fprintf(stderr, "%s: no batch from the fake monitor\n", program);
        std::exit(1);
    }
    Mon_Close(reader);
    return batch;
}
