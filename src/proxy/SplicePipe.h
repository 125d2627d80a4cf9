#pragma once
// A kernel pipe that relayed bytes pass through with splice(2), so they go
// from one socket to the other without being copied into the proxy. It is
// opened when data starts to flow and given back when it stops, so a
// connection that moves no data holds no descriptors for it.

#include <sys/types.h>

class SplicePipe {
public:
    SplicePipe() = default;
    ~SplicePipe() { Close(); }
    SplicePipe(const SplicePipe&) = delete;
    SplicePipe& operator=(const SplicePipe&) = delete;

    // False when no pipe can be had (out of descriptors), or only a small
    // one (the user's pipe budget is spent); then copy instead.
    bool Open();
    bool IsOpen() const { return m_Read >= 0; }
    void Close();
    // Like splice(2) without blocking: bytes moved, 0 at the end of the
    // stream, -1 with errno (EAGAIN when the socket has nothing or no room).
    ssize_t FromSocket(int socket);
    ssize_t ToSocket(int socket, size_t size);

private:
    int m_Read = -1;
    int m_Write = -1;
};
