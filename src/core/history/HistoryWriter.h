#pragma once
// The thread that writes the history. The UI thread hands it batches and
// never waits for the disk: the queue is bounded, and when it is full the
// two oldest pending batches become one (their periods merged). Between
// batches the writer trims the file by age and size in small steps.
//
// Faults never stop monitoring: a damaged file or one of a newer version is
// moved aside and a new one started, unless another program has it open; a
// file that cannot be opened or written (read-only folder, full disk, such a
// file in use) stops the writing. A file moved or replaced under the writer
// is noticed before the next batch, which goes to the file the path names
// now. Each is told once through the notice callback, which runs on the
// writer's thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/history/HistoryBatch.h"
#include "core/history/HistoryRetention.h"

struct HistoryWriterOptions {
    int64_t m_MaxAgeSeconds = HistoryDaysToSeconds(DefaultHistoryDays);  // 0: no limit
    uint64_t m_MaxBytes = HistoryMiBToBytes(DefaultHistoryMiB);          // 0: no limit
    size_t m_QueueLimit = 16;                 // pending batches
    int64_t m_PageLimit = 0;                  // caps the file as a full disk would; 0: none
    std::function<int64_t()> m_Clock;         // seconds since 1970; the system clock when empty
};

class HistoryWriter {
public:
    using Notice = std::function<void(const std::string& text)>;

    HistoryWriter(std::string path, HistoryWriterOptions options, Notice notice);
    ~HistoryWriter();  // writes what is pending, then ends the thread
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Queues a batch; returns false when the queue was full and two pending
    // batches were merged to make room (the writer is behind).
    bool Submit(HistoryBatch&& batch);
    void SetRetention(int64_t maxAgeSeconds, uint64_t maxBytes);
    // Off: batches are dropped, nothing is written.
    void SetEnabled(bool enabled);
    bool IsEnabled() const;
    // Deletes every row, and what is queued and not yet written.
    void Clear();
    // Waits until what was submitted so far is written (or given up) and trimming is done.
    void Flush();
    // False once a fault has stopped the writing.
    bool IsWriting() const;
    size_t MergedCount() const;
    const std::string& Path() const { return m_Path; }

private:
    void Run();
    void OpenStore(class HistoryStore& store);
    bool WriteOne(HistoryStore& store, HistoryBatch& batch);
    void ReopenReplaced(HistoryStore& store);
    void Stop(const std::string& why);
    int64_t Now() const;

    const std::string m_Path;
    const HistoryWriterOptions m_Options;
    const Notice m_Notice;

    mutable std::mutex m_Mutex;
    std::condition_variable m_Wake;     // work for the writer
    std::condition_variable m_Settled;  // the writer became idle
    std::deque<HistoryBatch> m_Queue;
    int64_t m_MaxAgeSeconds;
    uint64_t m_MaxBytes;
    bool m_bEnabled = true;
    bool m_bWriting = true;
    bool m_bClear = false;
    bool m_bTrim = true;  // a trim is due (at start and after each write)
    bool m_bBusy = false;
    bool m_bQuit = false;
    size_t m_Merged = 0;
    std::thread m_Thread;  // last: started once everything else is set
};
