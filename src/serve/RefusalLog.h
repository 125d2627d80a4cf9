#pragma once
// The log lines of refused clients, so that a flood of refusals never becomes
// a flood of lines (which the journal would answer by dropping real ones).
// The first refusal of a client key (an address, an IPv6 one by its /64) and
// reason is written at once; later ones are counted, and Flush() (once a
// minute, and at the stop) writes one line per key with its count. A key
// refused no more for a whole interval is forgotten.

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "Asio.h"
#include "ServerLog.h"

class RefusalLog {
public:
    static constexpr size_t MaxKeys = 10000;  // past it, refusals are counted together

    explicit RefusalLog(const ServerLog& log) : m_Log(log) {}
    // `who` comes before the client in the lines ("monitor client "), `why` after "refused: ".
    void Refused(const std::string& who, const tcp::endpoint& client, const std::string& why);
    void Flush();

private:
    struct Counted {
        size_t m_Count = 0;     // since its last line
        bool m_bRecent = true;  // refused within this interval
    };

    const ServerLog& m_Log;
    std::mutex m_Mutex;
    std::map<std::string, Counted> m_Keys;  // by the start of their count line
    size_t m_Others = 0;                    // of keys past MaxKeys
};
