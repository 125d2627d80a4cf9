#pragma once
// The network steps of one session, run off the session's own thread: a
// connect (host lookup and connect, together within the connect limit) or a
// poll (the request and the whole batch, within the poll limit). One job at a
// time; each runs on a thread of its own, so that a job that is given up (a
// lookup cannot be interrupted) never holds up the next one or the owner.
//
// The owner starts a job and goes on. When the job's result is ready, the
// job's thread calls the owner's notifier, which only hands over (posts an
// event, signals a condition) and never touches the session; the owner then
// takes the result on its own thread. Cancel gives the job up at once: a
// blocked receive is woken by shutting its socket down, nothing is reported
// any more, and the job's thread closes whatever connection it holds.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/monitor/MonBatch.h"
#include "core/monitor/MonStream.h"

class SessionWorker {
public:
    using Notifier = std::function<void()>;

    struct Result {
        bool m_bConnect = false;                     // a connect's result, else a poll's
        int32_t m_Status = 0;                        // what Mon_Open or Mon_ReadBatch returned
        MonitorConnection* m_pConnection = nullptr;  // now the owner's
        MonBatch m_Batch;                            // a poll's batch
        std::string m_ErrorText;                     // why it failed
    };

    explicit SessionWorker(Notifier notifier);
    ~SessionWorker();  // cancels; never waits
    SessionWorker(const SessionWorker&) = delete;
    SessionWorker& operator=(const SessionWorker&) = delete;

    // A job has been started and its result not yet taken.
    bool IsBusy() const { return m_pJob != nullptr; }
    // Each refuses (false) while busy.
    bool StartConnect(const std::string& hostName, const SessionLimits& limits);
    // Takes the connection and the batch (its storage is reused) until the
    // result hands them back.
    bool StartPoll(MonitorConnection* connection, MonBatch& batch, const SessionLimits& limits);
    void Cancel();
    // The finished job's result; false while the job runs or when none was started.
    bool TakeResult(Result& result);

private:
    struct Job;
    static void RunConnect(std::shared_ptr<Job> job, std::string hostName);
    static void WatchConnect(std::shared_ptr<Job> job, int limitMs);
    static void RunPoll(std::shared_ptr<Job> job, MonitorConnection* connection,
                        SessionLimits limits);
    bool Launch(const std::shared_ptr<Job>& job, std::function<void()> body);

    Notifier m_Notifier;
    std::shared_ptr<Job> m_pJob;
};
