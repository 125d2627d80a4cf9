#pragma once
// The sessions that are open: so that a stop can end the ones that do not
// end by themselves within the grace period, and so that a monitor client
// can close one by its id, or the ones a new block covers.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "SessionFacts.h"

class SessionRegistry {
public:
    // Ends the session from any thread: `why` is what its result says, empty
    // for the stop of the process.
    using Closer = std::function<void(const std::string& why)>;

    void Add(const void* session, Closer close);
    // Once the monitor knows the connection by `id`: from then on it can be
    // closed by it, and blocks can cover it.
    void Known(const void* session, uint32_t id, SessionFacts facts);
    void Heading(const void* session, const std::string& name,
                 const std::optional<Address16>& address);
    void Remove(const void* session);
    void CloseAll();
    // False when no open connection has that id (or it is closing already).
    bool Close(uint32_t id, const std::string& why);
    // How many were closed.
    size_t CloseCovered(const std::function<bool(const SessionFacts&)>& covered,
                        const std::string& why);

private:
    struct Entry {
        Closer m_Close;
        uint32_t m_Id = 0;  // 0 until known
        SessionFacts m_Facts;
        bool m_bClosing = false;  // by a monitor client, once
    };

    std::mutex m_Mutex;
    std::unordered_map<const void*, Entry> m_Sessions;
    std::unordered_map<uint32_t, const void*> m_ById;
};
