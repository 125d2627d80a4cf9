#pragma once
// Tells when this machine's addresses change (one added by DHCP, an IPv6
// temporary address, one taken away), from the kernel's address events, so
// that what the proxy takes for its own addresses is never only the list it
// read at its start.

#include <functional>

#include "Asio.h"

class AddressWatcher {
public:
    using Changed = std::function<void()>;

    AddressWatcher(asio::io_context& context, Changed changed)
        : m_Socket(context), m_Changed(std::move(changed)) {}
    // Calls `changed` once now and then after every burst of events; false
    // when the kernel's events cannot be had.
    bool Start();

private:
    void Wait();

    asio::posix::stream_descriptor m_Socket;
    Changed m_Changed;
};
