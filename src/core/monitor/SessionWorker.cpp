#include "core/monitor/SessionWorker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

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
    std::condition_variable m_Changed;
    bool m_bDone = false;  // the result is stored
    bool m_bCancelled = false;
    MonSocket m_Socket = -1;  // a poll's, shut down on cancel
    Result m_Result;
    Notifier m_Notifier;

    // Stores the result and tells the owner, unless the job is over already
    // (cancelled, or given up at its limit): then false, and the caller still
    // holds what the result holds.
    bool Finish(Result& result) {
        std::lock_guard lock(m_Mutex);
        return FinishLocked(result);
    }
    bool FinishLocked(Result& result) {
        if (m_bDone || m_bCancelled) return false;
        m_Result = std::move(result);
        m_bDone = true;
        m_Changed.notify_all();
        // Under the lock: once Cancel has returned, no notice is on its way.
        if (m_Notifier) m_Notifier();
        return true;
    }
};

SessionWorker::SessionWorker(Notifier notifier) : m_Notifier(std::move(notifier)) {}

SessionWorker::~SessionWorker() {
    Cancel();
}

bool SessionWorker::StartConnect(const std::string& hostName, const SessionLimits& limits) {
    if (IsBusy()) return false;
    auto job = std::make_shared<Job>();
    job->m_Notifier = m_Notifier;
    m_pJob = job;
    try {
        std::thread(&SessionWorker::RunConnect, job, hostName).detach();
        if (limits.m_ConnectMs > 0) {
            std::thread(&SessionWorker::WatchConnect, job, limits.m_ConnectMs).detach();
        }
    } catch (const std::system_error&) {
        Result failed;
        failed.m_bConnect = true;
        failed.m_Status = -1;
        failed.m_ErrorText = ErrorText(WsaENoBufs);
        job->Finish(failed);
    }
    return true;
}

bool SessionWorker::StartPoll(MonitorConnection* connection, MonBatch& batch,
                              const SessionLimits& limits) {
    if (IsBusy() || connection == nullptr) return false;
    auto job = std::make_shared<Job>();
    job->m_Notifier = m_Notifier;
    job->m_Socket = connection->m_Socket;
    job->m_Result.m_Batch = std::move(batch);
    m_pJob = job;
    try {
        std::thread(&SessionWorker::RunPoll, job, connection, limits).detach();
    } catch (const std::system_error&) {
        Result failed;
        failed.m_Status = -1;
        failed.m_pConnection = connection;
        failed.m_Batch = std::move(job->m_Result.m_Batch);
        failed.m_ErrorText = ErrorText(WsaENoBufs);
        job->Finish(failed);
    }
    return true;
}

void SessionWorker::Cancel() {
    if (!m_pJob) return;
    const std::shared_ptr<Job> job = std::move(m_pJob);
    MonitorConnection* untaken = nullptr;
    {
        std::lock_guard lock(job->m_Mutex);
        if (job->m_bDone) {
            untaken = std::exchange(job->m_Result.m_pConnection, nullptr);
        } else {
            job->m_bCancelled = true;
            if (job->m_Socket >= 0) Mon_TcpCancel(job->m_Socket);
            job->m_Changed.notify_all();
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

void SessionWorker::RunConnect(std::shared_ptr<Job> job, std::string hostName) {
    Result result;
    result.m_bConnect = true;
    MonitorConnection* connection = nullptr;
    result.m_Status = Mon_Open(hostName.c_str(), &connection);
    result.m_pConnection = connection;
    if (result.m_Status != 0) {
        result.m_ErrorText = connection ? connection->m_LastErrorText : ErrorText(WsaENoBufs);
    }
    if (!job->Finish(result)) Mon_Close(connection);
}

// The lookup cannot be interrupted, so the limit of lookup and connect
// together is kept here: at the limit the job ends as timed out, and its
// connection, if one still comes, is closed by RunConnect.
void SessionWorker::WatchConnect(std::shared_ptr<Job> job, int limitMs) {
    std::unique_lock lock(job->m_Mutex);
    if (job->m_Changed.wait_for(lock, std::chrono::milliseconds(limitMs),
                                [&] { return job->m_bDone || job->m_bCancelled; })) {
        return;
    }
    Result result;
    result.m_bConnect = true;
    result.m_Status = -1;
    result.m_ErrorText = ErrorText(WsaETimedOut);
    job->FinishLocked(result);
}

void SessionWorker::RunPoll(std::shared_ptr<Job> job, MonitorConnection* connection,
                            SessionLimits limits) {
    Result result;
    result.m_pConnection = connection;
    {
        // The batch was handed in with the job; only this thread uses it now.
        std::lock_guard lock(job->m_Mutex);
        result.m_Batch = std::move(job->m_Result.m_Batch);
    }
    result.m_Status = Mon_ReadBatch(connection, result.m_Batch, limits);
    if (result.m_Status < 0) result.m_ErrorText = connection->m_LastErrorText;
    if (!job->Finish(result)) Mon_Close(connection);
}
