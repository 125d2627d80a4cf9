#include "core/monitor/SessionWorker.h"

#include <mutex>
#include <utility>

#include "core/monitor/DeadlineWatcher.h"
#include "core/monitor/MonTcpLink.h"
#include "core/monitor/WorkerPool.h"

namespace {

constexpr int32_t WsaETimedOut = 10060;
constexpr int32_t WsaENoBufs = 10055;

// The transport's text for a code, "WinSock error=10060 WSAETIMEDOUT - ...".
std::string ErrorText(int32_t code) {
    Mon_TcpSetLastError(code);
    char text[128] = "";
    Mon_TcpError(nullptr, text);
    return text;
}

}  // namespace

struct SessionWorker::Job {
    std::mutex m_Mutex;
    bool m_bStarted = false;  // a pool thread has taken it
    bool m_bDone = false;     // the result is stored
    bool m_bCancelled = false;
    MonSocket m_Socket = -1;  // shut down on cancel: a poll's, or the one being connected
    uint64_t m_Deadline = 0;  // the connect limit's entry in the DeadlineWatcher
    Result m_Result;          // before a poll starts, it holds the lent connection and batch
    Notifier m_Notifier;

    bool IsOver() const { return m_bDone || m_bCancelled; }

    // What a pool thread calls first: false when the job was over before
    // its turn came, and then it does nothing.
    bool Begin() {
        std::lock_guard lock(m_Mutex);
        if (IsOver()) return false;
        m_bStarted = true;
        return true;
    }

    // The transport's connect watcher: records the socket being connected
    // so that Cancel or the limit can shut it down.
    bool Connecting(MonSocket s) {
        std::lock_guard lock(m_Mutex);
        m_Socket = s;
        return !IsOver();
    }

    // Stores the result and tells the owner, unless the job is over already
    // (cancelled, or given up at its limit): then false, and the caller still
    // holds what the result holds.
    bool Finish(Result& result) {
        std::lock_guard lock(m_Mutex);
        return FinishLocked(result);
    }
    bool FinishLocked(Result& result) {
        if (IsOver()) return false;
        m_Result = std::move(result);
        m_bDone = true;
        if (m_Deadline != 0) DeadlineWatcher::Shared().Withdraw(m_Deadline);
        // Under the lock: once Cancel has returned, no notice is on its way.
        if (m_Notifier) m_Notifier();
        return true;
    }
};

SessionWorker::SessionWorker(Notifier notifier) : m_Notifier(std::move(notifier)) {
    WorkerPool::ForConnects().AddPlace();
    WorkerPool::ForPolls().AddPlace();
}

SessionWorker::~SessionWorker() {
    Cancel();
    WorkerPool::ForConnects().RemovePlace();
    WorkerPool::ForPolls().RemovePlace();
}

bool SessionWorker::StartConnect(const std::string& hostName, const SessionLimits& limits) {
    if (IsBusy()) return false;
    auto job = std::make_shared<Job>();
    job->m_Notifier = m_Notifier;
    m_pJob = job;
    if (limits.m_ConnectMs > 0) {
        // Counted from now: the time a job waits for a thread is part of it.
        std::lock_guard lock(job->m_Mutex);
        job->m_Deadline =
            DeadlineWatcher::Shared().Add(limits.m_ConnectMs, [job] { ExpireConnect(job); });
    }
    Launch(WorkerPool::ForConnects(), job, [job, hostName] { RunConnect(job, hostName); });
    return true;
}

bool SessionWorker::StartPoll(MonitorConnection* connection, MonBatch& batch,
                              const SessionLimits& limits,
                              std::vector<MonControlRequest> controls) {
    if (IsBusy() || connection == nullptr) return false;
    auto job = std::make_shared<Job>();
    job->m_Notifier = m_Notifier;
    job->m_Socket = connection->m_Socket;
    job->m_Result.m_pConnection = connection;
    job->m_Result.m_Batch = std::move(batch);
    job->m_Result.m_Controls = std::move(controls);
    m_pJob = job;
    Launch(WorkerPool::ForPolls(), job, [job, limits] { RunPoll(job, limits); });
    return true;
}

void SessionWorker::Launch(WorkerPool& pool, const std::shared_ptr<Job>& job,
                           std::function<void()> body) {
    if (pool.Submit(std::move(body))) return;
    std::lock_guard lock(job->m_Mutex);
    Result failed = std::move(job->m_Result);  // a poll's connection and batch go back
    failed.m_Status = -1;
    failed.m_ErrorText = ErrorText(WsaENoBufs);
    failed.m_bConnect = failed.m_pConnection == nullptr;  // a poll always has one
    job->FinishLocked(failed);
}

void SessionWorker::Cancel() {
    if (!m_pJob) return;
    const std::shared_ptr<Job> job = std::move(m_pJob);
    MonitorConnection* untaken = nullptr;
    {
        std::lock_guard lock(job->m_Mutex);
        if (job->m_bDone || !job->m_bStarted) {
            // A result not taken, or a poll's connection that no thread took.
            untaken = std::exchange(job->m_Result.m_pConnection, nullptr);
        } else if (job->m_Socket >= 0) {
            Mon_TcpCancel(job->m_Socket);
        }
        if (!job->m_bDone) {
            job->m_bCancelled = true;
            if (job->m_Deadline != 0) DeadlineWatcher::Shared().Withdraw(job->m_Deadline);
        }
    }
    if (untaken != nullptr) Mon_Close(untaken);
}

bool SessionWorker::TakeResult(Result& result) {
    if (!m_pJob) return false;
    {
        std::lock_guard lock(m_pJob->m_Mutex);
        if (!m_pJob->m_bDone) return false;
        result = std::move(m_pJob->m_Result);
    }
    m_pJob.reset();
    return true;
}

void SessionWorker::RunConnect(const std::shared_ptr<Job>& job, const std::string& hostName) {
    if (!job->Begin()) return;  // given up before its turn: no lookup at all
    Result result;
    result.m_bConnect = true;
    MonitorConnection* connection = nullptr;
    Mon_TcpWatchConnects([&job](MonSocket s) { return job->Connecting(s); });
    result.m_Status = Mon_Open(hostName.c_str(), &connection);
    Mon_TcpWatchConnects(nullptr);
    result.m_pConnection = connection;
    if (result.m_Status != 0) {
        // A refusal for the link's safety or ssh's failure says more than
        // the WinSock text.
        result.m_Trust = Mon_TlsLastProblem();
        const std::string detail = Mon_OpenFailureText();
        result.m_ErrorText = !detail.empty() ? detail
                             : connection    ? connection->m_LastErrorText
                                             : ErrorText(WsaENoBufs);
    } else {
        result.m_Link = Mon_TcpLinkInfo(connection->m_Socket);
        AskAbilities(connection, result);
    }
    if (!job->Finish(result)) Mon_Close(connection);
}

// The limit of lookup and connect together: the job ends as timed out, and
// a connect in progress is shut down, so that its thread closes the socket at
// once; a lookup still running finds the job over when it returns.
void SessionWorker::ExpireConnect(const std::shared_ptr<Job>& job) {
    std::lock_guard lock(job->m_Mutex);
    if (job->IsOver()) return;
    job->m_Deadline = 0;  // it has fired
    if (job->m_Socket >= 0) Mon_TcpCancel(job->m_Socket);
    Result result;
    result.m_bConnect = true;
    result.m_Status = -1;
    result.m_ErrorText = ErrorText(WsaETimedOut);
    job->FinishLocked(result);
}

// A monitor that fails to say leaves the session without abilities; the
// first poll then finds out what is wrong with the link.
void SessionWorker::AskAbilities(MonitorConnection* connection, Result& result) {
    if (!result.m_Link.m_bControl) return;
    MonControlRequest hello;
    if (Mon_Control(connection, hello, result.m_Hello) < 0) {
        result.m_Hello = MonControlAnswer{};
        result.m_Hello.m_Text = connection->m_LastErrorText;
    }
}

int32_t SessionWorker::SendControls(MonitorConnection* connection, Result& result) {
    for (const MonControlRequest& request : result.m_Controls) {
        Reply reply;
        if (Mon_Control(connection, request, reply.m_Answer, &reply.m_Blocks) < 0) return -1;
        result.m_Replies.push_back(std::move(reply));
    }
    return 0;
}

void SessionWorker::RunPoll(const std::shared_ptr<Job>& job, const SessionLimits& limits) {
    Result result;
    {
        // Cancel closed the connection of a poll that never began.
        std::lock_guard lock(job->m_Mutex);
        if (job->IsOver()) return;
        job->m_bStarted = true;
        result.m_pConnection = std::exchange(job->m_Result.m_pConnection, nullptr);
        result.m_Batch = std::move(job->m_Result.m_Batch);
        result.m_Controls = std::move(job->m_Result.m_Controls);
    }
    MonitorConnection* connection = result.m_pConnection;
    result.m_Status = SendControls(connection, result);
    if (result.m_Status == 0) result.m_Status = Mon_ReadBatch(connection, result.m_Batch, limits);
    if (result.m_Status < 0) {
        const std::string tls = Mon_TlsLinkFailureText(connection->m_Socket);
        result.m_ErrorText = !tls.empty() ? tls : connection->m_LastErrorText;
    }
    if (!job->Finish(result)) Mon_Close(connection);
}
