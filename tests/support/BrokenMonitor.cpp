#include "BrokenMonitor.h"

#include "core/monitor/MonEncode.h"

namespace {

constexpr uint32_t High = 7;
constexpr uint32_t Start = 1796000000;

MonBytes Open(uint32_t id) {
    return EncodeOpen(High, id, 0, Start, "alice", EncodeSockAddr(0x7F000001, 40000), "");
}

MonBytes Update(uint32_t id, uint32_t in) {
    return EncodeUpdate(High, id, "www", {}, "", EncodeSockAddr(0x7F000002, 80), "", in, 10);
}

}  // namespace

BrokenMonitor::BrokenMonitor(Fault fault) {
    std::vector<MonBytes> first = {Open(1), Update(1, 1200)};
    std::vector<MonBytes> second = {Update(1, 1300), EncodeResult(High, 1, 5, "connection refused"),
                                    EncodeClose(High, 1, Start + 5)};
    switch (fault) {
        case Fault::None:
            break;
        case Fault::RefOutsideBody:
            first[0][21] = 200;  // the user name's offset (bytes 20-21)
            break;
        case Fault::CloseWithoutOpen:
            second.push_back(EncodeClose(High, 19, Start));
            break;
        case Fault::TotalsGoDown:
            second[0] = Update(1, 1100);
            break;
        case Fault::ControlText:
            second[1] = EncodeResult(High, 1, 5, "refused\x1b[2J");
            break;
    }
    m_Monitor.QueueBatch(first);
    m_Monitor.QueueBatch(second);
}
