#include "core/monitor/MonBatch.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "core/monitor/MonTls.h"

namespace {

std::atomic<int> g_ConnectMs{SessionLimits{}.m_ConnectMs};
std::atomic<int> g_PollMs{SessionLimits{}.m_PollMs};
std::atomic<size_t> g_BatchBytes{SessionLimits{}.m_BatchBytes};

constexpr size_t FirstCapacity = 65536;

int32_t Fail(MonitorConnection* connection, MonBatch& batch) {
    batch.m_Result = -1;
    batch.m_ErrorCode = connection->m_LastErrorCode;
    std::memcpy(batch.m_ErrorText, connection->m_LastErrorText, sizeof batch.m_ErrorText);
    batch.m_ErrorText[sizeof batch.m_ErrorText - 1] = '\0';
    return -1;
}

}  // namespace

SessionLimits GetSessionLimits() {
    SessionLimits limits;
    limits.m_ConnectMs = g_ConnectMs.load();
    limits.m_PollMs = g_PollMs.load();
    limits.m_BatchBytes = g_BatchBytes.load();
    return limits;
}

void SetSessionLimits(const SessionLimits& limits) {
    g_ConnectMs = limits.m_ConnectMs;
    g_PollMs = limits.m_PollMs;
    g_BatchBytes = limits.m_BatchBytes;
}

template <typename T>
T* BatchAllocator<T>::allocate(size_t count) {
    const size_t bytes = count * sizeof(T);
    if (bytes < SystemBytes) return static_cast<T*>(::operator new(bytes));
    void* block =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return static_cast<T*>(block);
}

template <typename T>
void BatchAllocator<T>::deallocate(T* block, size_t count) {
    const size_t bytes = count * sizeof(T);
    if (bytes < SystemBytes) {
        ::operator delete(block);
    } else {
        ::munmap(block, bytes);
    }
}

template struct BatchAllocator<uint8_t>;

void MonBatch::Clear() {
    if (m_Frames.capacity() > KeptBytes) {
        decltype(m_Frames)().swap(m_Frames);
    } else {
        m_Frames.clear();
    }
    m_Next = 0;
    m_Result = 0;
    m_Version = 1;
    m_bIllegal = false;
    m_ErrorCode = 0;
    m_ErrorText[0] = '\0';
}

void MonBatch::Append(const uint8_t* body, uint16_t length, size_t limit) {
    const size_t needed = m_Frames.size() + 2 + length;
    if (needed > m_Frames.capacity()) {
        // Doubling, but never past the limit, so a batch at its bound holds
        // no more memory than the bound.
        m_Frames.reserve(std::min(std::max({m_Frames.capacity() * 2, needed, FirstCapacity}),
                                  std::max(limit, needed)));
    }
    m_Frames.push_back(static_cast<uint8_t>(length >> 8));
    m_Frames.push_back(static_cast<uint8_t>(length));
    m_Frames.insert(m_Frames.end(), body, body + length);
}

bool MonBatch::Next(const uint8_t*& body, uint16_t& length) {
    if (AtEnd()) return false;
    length = static_cast<uint16_t>((m_Frames[m_Next] << 8) | m_Frames[m_Next + 1]);
    body = m_Frames.data() + m_Next + 2;
    m_Next += 2 + size_t{length};
    return true;
}

int32_t Mon_ReadBatch(MonitorConnection* connection, MonBatch& batch, const SessionLimits& limits) {
    batch.Clear();
    if (connection == nullptr) {
        batch.m_Result = -1;
        return -1;
    }
    Mon_TcpSetDeadline(connection->m_Socket, limits.m_PollMs);
    // The link's version of the records, as negotiated when it was made.
    batch.m_Version = Mon_TcpLinkInfo(connection->m_Socket).m_Version;
    MonitorRecord scratch;
    int32_t result = 0;
    for (;;) {
        const int32_t length = Mon_ReadMessage(connection);
        if (length == 0) break;
        if (length < 0) {
            result = Fail(connection, batch);
            break;
        }
        const uint16_t size = static_cast<uint16_t>(length);
        if (batch.Bytes() + 2 + size > limits.m_BatchBytes ||
            Mon_DecodeVersion(batch.m_Version, size, connection->m_Buffer, &scratch) < 0) {
            Mon_SetIllegal(connection);
            result = Fail(connection, batch);
            batch.m_bIllegal = true;
            break;
        }
        batch.Append(connection->m_Buffer, size, limits.m_BatchBytes);
    }
    Mon_TcpSetDeadline(connection->m_Socket, 0);
    return result;
}
