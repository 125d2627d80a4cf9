#pragma once
// The network steps of one session, run off the session's own thread: a
// connect (host lookup and connect, together within the connect limit) or a
// poll (the request and the whole batch, within the poll limit). One job at a
// time; each runs on a thread of the process's WorkerPools (one for connects,
// one for polls), so that a job that is given up (a lookup cannot be
// interrupted) never holds up the next one or the owner. A live worker holds
// one place in each pool.
//
// The owner starts a job and goes on. When the job's result is ready, the
// job's thread calls the owner's notifier, which only hands over (posts an
// event, signals a condition) and never touches the session; the owner then
// takes the result on its own thread. Cancel gives the job up at once: a job
// still queued never runs (a poll's connection is closed there and then), a
// blocked receive or a connect still waiting for its peer is woken by
// shutting its socket down, nothing is reported any more, and the job's
// thread closes whatever connection it holds. Only a lookup still in the
// resolver outlives it. The connect limit is kept by the process's
// DeadlineWatcher, so it holds while the lookup hangs or the job waits for a
// thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/monitor/MonBatch.h"
#include "core/monitor/MonControl.h"
#include "core/monitor/MonStream.h"
#include "core/monitor/MonTls.h"

class WorkerPool;

class SessionWorker {
public:
    using Notifier = std::function<void()>;

    // A control request's answer, and a list's blocks.
    struct Reply {
        MonControlAnswer m_Answer;
        std::vector<MonBlock> m_Blocks;
    };

    struct Result {
        bool m_bConnect = false;                     // a connect's result, else a poll's
        int32_t m_Status = 0;                        // what Mon_Open or Mon_ReadBatch returned
        MonitorConnection* m_pConnection = nullptr;  // now the owner's
        MonBatch m_Batch;                            // a poll's batch
        std::string m_ErrorText;                     // why it failed
        MonTrustProblem m_Trust;                     // a connect refused for the link's safety
        MonLinkInfo m_Link;                          // a connect's link, once made
        // On a link that takes control: what the monitor lets this client do.
        MonControlAnswer m_Hello;
        // A poll's control requests, sent before it asks for records, and
        // their replies in the same order (fewer when the link failed).
        std::vector<MonControlRequest> m_Controls;
        std::vector<Reply> m_Replies;
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
    // result hands them back. `controls` go first, so that the batch already
    // shows what they did.
    bool StartPoll(MonitorConnection* connection, MonBatch& batch, const SessionLimits& limits,
                   std::vector<MonControlRequest> controls = {});
    void Cancel();
    // The finished job's result; false while the job runs or when none was started.
    bool TakeResult(Result& result);

private:
    struct Job;
    static void RunConnect(const std::shared_ptr<Job>& job, const std::string& hostName);
    static void ExpireConnect(const std::shared_ptr<Job>& job);
    static void RunPoll(const std::shared_ptr<Job>& job, const SessionLimits& limits);
    static void AskAbilities(MonitorConnection* connection, Result& result);
    static int32_t SendControls(MonitorConnection* connection, Result& result);
    // Hands the job to the pool; a job no thread can take fails at once.
    static void Launch(WorkerPool& pool, const std::shared_ptr<Job>& job,
                       std::function<void()> body);

    Notifier m_Notifier;
    std::shared_ptr<Job> m_pJob;
};
