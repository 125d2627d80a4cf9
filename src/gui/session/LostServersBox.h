#pragma once
// The one message box of sessions that lose their monitors. Several sessions
// often lose theirs together (one proxy host down, one network gone): the
// first loss shows "The server has been disconnected !", and losses that
// come while that box is up join it instead of stacking boxes; the box then
// lists each server once, on lines of their own. Each session reconnects on
// its own, and the box says so: a server that is back leaves the list, and
// the box closes once none is left. A loss after the box was closed shows a
// new one.

#include <QString>

class LostServersBox {
public:
    // A session lost its monitor on this server: shows the box (modal, so
    // this returns once the user closed it) or joins the one that is up.
    static void Report(const QString& server);
    // A session is connected to this server again: the box no longer names
    // it, and closes when it named no other.
    static void Recovered(const QString& server);
    // What the box says now; empty when none is up.
    static QString Text();
};
