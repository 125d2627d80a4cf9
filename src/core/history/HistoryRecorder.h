#pragma once
// Gathers, on the UI thread and while the table applies a batch, what the
// history keeps of one session: the finished connections, the period's
// traffic by service and by user, the counts, the connects and disconnects.
// Each Take hands over what was gathered since the last one as one batch.

#include <cstdint>
#include <string>

#include "core/history/HistoryBatch.h"
#include "core/table/TableObserver.h"

class PMCTable;

class HistoryRecorder : public TableObserver {
public:
    void Connected(const std::string& server, int64_t now);
    // The session ended; `why` is the error text of a lost connection (empty
    // when the user disconnected).
    HistoryBatch Disconnected(const std::string& why, int64_t now);
    // Ends the period at `now`, after the table applied a batch.
    HistoryBatch PeriodDone(const PMCTable& table, int64_t now);

    void EntryChanged(const EntryObj& entry, uint64_t growthIn, uint64_t growthOut,
                      bool opened) override;
    void EntryFinished(const EntryObj& entry, const MonitorRecord& record) override;

    bool IsRecording() const { return !m_Server.empty(); }

private:
    HistoryBatch Take();

    std::string m_Server;  // empty while no session is connected
    int64_t m_PeriodStart = 0;
    bool m_bBaseline = true;  // the first batch after a connect: its totals predate us
    HistoryBatch m_Batch;
    HistoryPeriod m_Period;
    // The last batch's finished connections and their texts, to reserve room.
    size_t m_LastFinished = 0;
    size_t m_LastTexts = 0;
    HistoryText m_ServerText;       // the server's name in m_Batch's texts
    bool m_bServerInBatch = false;  // m_ServerText is valid
    size_t m_LastGrowth = 0;        // records that moved bytes in the last period
};
