#include "core/history/HistoryWriter.h"

#include <sqlite3.h>

#include <ctime>

#include "core/history/HistoryStore.h"

HistoryWriter::HistoryWriter(std::string path, HistoryWriterOptions options, Notice notice)
    : m_Path(std::move(path)),
      m_Options(std::move(options)),
      m_Notice(std::move(notice)),
      m_MaxAgeSeconds(m_Options.m_MaxAgeSeconds),
      m_MaxBytes(m_Options.m_MaxBytes),
      m_Thread([this] { Run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard lock(m_Mutex);
        m_bQuit = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
}

bool HistoryWriter::Submit(HistoryBatch&& batch) {
    bool merged = false;
    {
        std::lock_guard lock(m_Mutex);
        if (!m_bEnabled || !m_bWriting || batch.IsEmpty()) return true;
        if (m_Queue.size() >= m_Options.m_QueueLimit && m_Queue.size() >= 2) {
            m_Queue[0].Absorb(std::move(m_Queue[1]));
            m_Queue.erase(m_Queue.begin() + 1);
            ++m_Merged;
            merged = true;
        }
        m_Queue.push_back(std::move(batch));
    }
    m_Wake.notify_one();
    return !merged;
}

void HistoryWriter::SetRetention(int64_t maxAgeSeconds, uint64_t maxBytes) {
    {
        std::lock_guard lock(m_Mutex);
        m_MaxAgeSeconds = maxAgeSeconds;
        m_MaxBytes = maxBytes;
        m_bTrim = true;
    }
    m_Wake.notify_one();
}

void HistoryWriter::SetEnabled(bool enabled) {
    std::lock_guard lock(m_Mutex);
    m_bEnabled = enabled;
}

bool HistoryWriter::IsEnabled() const {
    std::lock_guard lock(m_Mutex);
    return m_bEnabled;
}

void HistoryWriter::Clear() {
    {
        std::lock_guard lock(m_Mutex);
        m_Queue.clear();  // would be deleted at once anyway
        m_bClear = true;
    }
    m_Wake.notify_one();
}

void HistoryWriter::Flush() {
    std::unique_lock lock(m_Mutex);
    m_Settled.wait(lock, [this] {
        return !m_bBusy && m_Queue.empty() && !m_bClear && (!m_bTrim || !m_bWriting);
    });
}

bool HistoryWriter::IsWriting() const {
    std::lock_guard lock(m_Mutex);
    return m_bWriting;
}

size_t HistoryWriter::MergedCount() const {
    std::lock_guard lock(m_Mutex);
    return m_Merged;
}

int64_t HistoryWriter::Now() const {
    return m_Options.m_Clock ? m_Options.m_Clock() : static_cast<int64_t>(std::time(nullptr));
}

// One piece of work at a time, in this order: clearing (what was queued
// before it was dropped), a batch, one trimming step. The lock is never held
// while the disk works.
void HistoryWriter::Run() {
    HistoryStore store(m_Path);
    store.SetPageLimit(m_Options.m_PageLimit);
    OpenStore(store);
    std::unique_lock lock(m_Mutex);
    for (;;) {
        m_bBusy = false;
        m_Settled.notify_all();
        m_Wake.wait(lock, [this] {
            return m_bQuit || !m_Queue.empty() || m_bClear || (m_bTrim && m_bWriting);
        });
        m_bBusy = true;
        if (m_bClear) {
            lock.unlock();
            try {
                if (store.IsOpen()) store.Clear();
            } catch (const HistoryError& error) {
                Stop(error.what());
            }
            lock.lock();
            m_bClear = false;
            continue;
        }
        if (!m_Queue.empty()) {
            HistoryBatch batch = std::move(m_Queue.front());
            m_Queue.pop_front();
            lock.unlock();
            const bool written = WriteOne(store, batch);
            lock.lock();
            if (written) m_bTrim = true;
            continue;
        }
        if (m_bQuit) break;
        const int64_t maxAge = m_MaxAgeSeconds;
        const uint64_t maxBytes = m_MaxBytes;
        lock.unlock();
        bool more = false;
        try {
            more = store.TrimStep(Now(), maxAge, maxBytes);
        } catch (const HistoryError& error) {
            Stop(error.what());
        }
        lock.lock();
        m_bTrim = more;
    }
    m_bBusy = false;
    m_Settled.notify_all();
}

void HistoryWriter::OpenStore(HistoryStore& store) {
    try {
        const std::string moved = store.Open(Now());
        if (!moved.empty() && m_Notice) m_Notice(moved);
    } catch (const HistoryError& error) {
        Stop("History is not recorded: " + m_Path + " cannot be opened (" + error.what() + ").");
    }
}

// A damaged file met while writing is moved aside and the batch written to
// the new one; a full disk or a file that cannot be written stops the writing.
bool HistoryWriter::WriteOne(HistoryStore& store, HistoryBatch& batch) {
    if (store.IsReplaced()) ReopenReplaced(store);
    if (!store.IsOpen()) return false;
    try {
        store.Write(batch);
        return true;
    } catch (const HistoryError& error) {
        const int code = error.PrimaryCode();
        if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) {
            store.Close();
            try {
                HistoryStore::MoveAside(m_Path, "damaged", Now());
            } catch (const HistoryError&) {
            }
            OpenStore(store);
            if (m_Notice && store.IsOpen()) {
                m_Notice(
                    "The history file was damaged and has been moved aside; a new one was "
                    "started.");
            }
            return store.IsOpen() && WriteOne(store, batch);
        }
        if (code == SQLITE_FULL) {
            Stop("History writing stopped: the disk holding " + m_Path + " is full.");
        } else {
            Stop("History writing stopped: " + m_Path + " cannot be written (" + error.what() +
                 ").");
        }
        return false;
    }
}

// Another program moved or replaced the file while it was open: the batches
// go to the file the path names now, not into the one moved away.
void HistoryWriter::ReopenReplaced(HistoryStore& store) {
    store.Close();
    OpenStore(store);
    if (m_Notice && store.IsOpen()) {
        m_Notice("The history file " + m_Path +
                 " was moved or replaced by another program; history now goes to the file "
                 "found there.");
    }
}

void HistoryWriter::Stop(const std::string& why) {
    {
        std::lock_guard lock(m_Mutex);
        if (!m_bWriting) return;
        m_bWriting = false;
        m_Queue.clear();
    }
    if (m_Notice) m_Notice(why);
}
