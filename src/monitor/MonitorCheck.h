#pragma once
// The checker a monitor's author runs: polls a monitor over plain TCP (the
// first version of the records) and names every record that breaks the
// protocol's rules or that VGL would refuse. Each finding is one line:
//   poll 2, record 5 (update 7:19): total in went down from 1200 to 1100

#include <chrono>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class MonitorCheck {
public:
    // 0 clean, 1 some record broke a rule, 2 no monitor answered as one.
    int Run(const std::string& host, int polls, std::chrono::milliseconds period,
            std::ostream& out);

    // One body of poll `poll`, the `index`-th record of its batch (from 1).
    void CheckBody(int poll, size_t index, const uint8_t* body, uint16_t length);
    const std::vector<std::string>& Findings() const { return m_Findings; }
    size_t Records() const { return m_Records; }

private:
    struct Connection {
        bool m_bClosed = false;
        uint32_t m_Start = 0;
        uint32_t m_In = 0, m_Out = 0;  // the last totals, 0 for none yet
    };
    using Ids = std::pair<uint32_t, uint32_t>;

    void Report(const std::string& rule);
    void CheckRefs(const uint8_t* body, uint16_t length, uint16_t fixed);
    void CheckOrder(uint8_t kind, const Ids& ids, const uint8_t* body);
    void CheckTotals(Connection& connection, const uint8_t* body);

    std::map<Ids, Connection> m_Connections;
    std::vector<std::string> m_Findings;
    std::string m_Where;  // "poll 2, record 5 (update 7:19)"
    size_t m_Records = 0;
};
