#pragma once
// The program's command line:
//   vgl [FILE...] [--connect HOST]... [--trust SHA256:...] [--period SECONDS]
//       [--keep N] [--filter LINE] [--group-by WHAT]
//   vgl --identity
// Each file opens as a session document; each --connect opens a new session
// connected to that host (HOST[:PORT], tls://HOST[:PORT] or
// ssh://[USER@]HOST[:SSHPORT][/MONITOR-HOST[:PORT]]); with neither, one new
// unconnected session opens. --trust pins the fingerprint for the tls://
// hosts of the same command line, so that a provisioned start never asks.
// --identity prints the fingerprint of the client's own identity, making it
// on first use.
// --period (5 to 120 seconds, core/base/SessionLimits.h) is the poll period of the sessions opened
// with
// --connect, --keep (1 to 100,000) how many connections they keep, --filter
// their grid's filter line and --group-by their grouping (connection, user,
// destination, service or client). Hidden options for demos and tests:
// --screenshot FILE saves a picture of the main window after --polls N polls
// of the connected sessions and ends the program; --report-ready prints
// "vgl: ready" once the main window shows, and "vgl: opened FILE" or
// "vgl: connecting HOST" for what a later start hands over.

#include <QString>
#include <QStringList>

struct VGLCommandLine {
    QStringList m_Files;
    QStringList m_ConnectHosts;
    QString m_Trust;   // a fingerprint for the tls:// hosts; empty: not given
    int m_Period = 0;  // 0: not given
    int m_Keep = 0;    // 0: not given
    QString m_Filter;
    QString m_GroupBy;  // empty: not given
    QString m_ScreenshotPath;
    int m_ScreenshotPolls = 3;
    // The window pictured instead of the main window: servers, alerts,
    // alert-rules, tray-menu, all-servers or all-servers-by-server.
    QString m_ScreenshotOf;
    bool m_bReportReady = false;
};

enum class CommandLineAction { Run, Help, Version, Identity, Error };

// Parses the arguments (the program name first). For Help and Version the
// message is the text to print; for Error it says what is wrong. Needs no
// application object, so it can run before any window system is touched.
CommandLineAction ParseCommandLine(const QStringList& arguments, VGLCommandLine& commandLine,
                                   QString& message);

// What a later start hands to the running instance: its files as absolute
// paths (the running instance has another working folder), its hosts and
// period. Empty when the command line opens nothing or takes a screenshot.
QStringList HandOverArguments(const VGLCommandLine& commandLine);
