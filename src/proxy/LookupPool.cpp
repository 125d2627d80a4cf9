#include "LookupPool.h"

#include <netdb.h>

#include <cstring>

Lookup ResolveNow(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    Lookup lookup;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) {
        lookup.m_bFailed = true;
        return lookup;
    }
    for (const addrinfo* at = list; at != nullptr; at = at->ai_next) {
        tcp::endpoint endpoint;
        if (at->ai_addrlen > endpoint.capacity()) continue;
        std::memcpy(endpoint.data(), at->ai_addr, at->ai_addrlen);
        endpoint.resize(at->ai_addrlen);
        lookup.m_Endpoints.push_back(endpoint);
    }
    freeaddrinfo(list);
    return lookup;
}

awaitable<std::optional<Lookup>> LookupPool::Resolve(const Address16& client, std::string host,
                                                     uint16_t port, Clock::time_point deadline) {
    return m_Pool.Run<Lookup>(client, deadline,
                              [host = std::move(host), port] { return ResolveNow(host, port); });
}
