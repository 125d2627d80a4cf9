#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <string>

#include "core/monitor/MonHostName.h"

namespace {

constexpr int MinPeriod = 5;
constexpr int MaxPeriod = 120;
constexpr int MaxKeep = 100000;

bool ParseNumber(const QString& text, int low, int high, int& value) {
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high) return false;
    value = number;
    return true;
}

}  // namespace

CommandLineAction ParseCommandLine(const QStringList& arguments, VGLCommandLine& commandLine,
                                   QString& message) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches SOCKS5 proxy servers through the monitor beside each proxy."));
    // Qt's own help option would offer --help-all for options that only a
    // Qt application object understands; this program reads its command line
    // before it builds one.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption connect(
        QStringLiteral("connect"),
        QStringLiteral("Open a new session connected to the monitor on HOST: a name or address, "
                       "HOST:PORT, an IPv6 address or [IPv6]:PORT; the port is 5051 unless "
                       "given (may be repeated)."),
        QStringLiteral("HOST"));
    const QCommandLineOption period(
        QStringLiteral("period"),
        QStringLiteral("Poll the sessions opened with --connect every SECONDS (5 to 120; 60 "
                       "unless given)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption keep(
        QStringLiteral("keep"),
        QStringLiteral("Keep at most N connections in the sessions opened with --connect "
                       "(1 to 100000)."),
        QStringLiteral("N"));
    const QCommandLineOption filter(
        QStringLiteral("filter"),
        QStringLiteral("Show only the connections that meet LINE in the sessions opened with "
                       "--connect (words, user:NAME, dest:10.0.0.0/8, -word)."),
        QStringLiteral("LINE"));
    const QCommandLineOption groupBy(
        QStringLiteral("group-by"),
        QStringLiteral("Group the connections of the sessions opened with --connect by user, "
                       "destination, service or client."),
        QStringLiteral("WHAT"));
    QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
    QCommandLineOption polls(QStringLiteral("polls"), QString(), QStringLiteral("N"));
    QCommandLineOption reportReady(QStringLiteral("report-ready"));
    for (QCommandLineOption* hidden : {&screenshot, &polls, &reportReady}) {
        hidden->setFlags(QCommandLineOption::HiddenFromHelp);
    }
    parser.addOptions({connect, period, keep, filter, groupBy, screenshot, polls, reportReady});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A session document (*.vgl) to open."),
                                 QStringLiteral("[file...]"));

    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return CommandLineAction::Error;
    }
    if (parser.isSet(help)) {
        message = parser.helpText();
        return CommandLineAction::Help;
    }
    if (parser.isSet(version)) {
        message = QStringLiteral("VGL 2.0 (Socks Vigil beta version 2.0)\n");
        return CommandLineAction::Version;
    }

    commandLine = VGLCommandLine();
    commandLine.m_Files = parser.positionalArguments();
    commandLine.m_ConnectHosts = parser.values(connect);
    for (const QString& host : commandLine.m_ConnectHosts) {
        if (host.trimmed().isEmpty()) {
            message = QStringLiteral("--connect needs a host name.");
            return CommandLineAction::Error;
        }
        std::string name;
        uint16_t port = 0;
        if (!Mon_ParseHostName(host.trimmed().toStdString(), name, port)) {
            message = QStringLiteral("--connect %1: give HOST, HOST:PORT, an IPv6 address or "
                                     "[IPv6]:PORT, with a port from 1 to 65535.")
                          .arg(host);
            return CommandLineAction::Error;
        }
    }
    if (parser.isSet(period)) {
        if (commandLine.m_ConnectHosts.isEmpty()) {
            message = QStringLiteral("--period applies to sessions opened with --connect.");
            return CommandLineAction::Error;
        }
        if (!ParseNumber(parser.value(period), MinPeriod, MaxPeriod, commandLine.m_Period)) {
            message = QStringLiteral("The period must be a whole number of seconds from 5 to 120.");
            return CommandLineAction::Error;
        }
    }
    if (parser.isSet(keep)) {
        if (commandLine.m_ConnectHosts.isEmpty()) {
            message = QStringLiteral("--keep applies to sessions opened with --connect.");
            return CommandLineAction::Error;
        }
        if (!ParseNumber(parser.value(keep), 1, MaxKeep, commandLine.m_Keep)) {
            message = QStringLiteral("--keep needs a number from 1 to 100000.");
            return CommandLineAction::Error;
        }
    }
    if ((parser.isSet(filter) || parser.isSet(groupBy)) && commandLine.m_ConnectHosts.isEmpty()) {
        message = QStringLiteral("--filter and --group-by apply to sessions opened with --connect.");
        return CommandLineAction::Error;
    }
    commandLine.m_Filter = parser.value(filter);
    commandLine.m_GroupBy = parser.value(groupBy).toLower();
    static const QStringList groupings = {QStringLiteral("connection"), QStringLiteral("user"),
                                          QStringLiteral("destination"), QStringLiteral("service"),
                                          QStringLiteral("client")};
    if (parser.isSet(groupBy) && !groupings.contains(commandLine.m_GroupBy)) {
        message = QStringLiteral("--group-by takes connection, user, destination, service or client.");
        return CommandLineAction::Error;
    }
    commandLine.m_ScreenshotPath = parser.value(screenshot);
    if (parser.isSet(polls) &&
        !ParseNumber(parser.value(polls), 0, 1000, commandLine.m_ScreenshotPolls)) {
        message = QStringLiteral("--polls needs a number from 0 to 1000.");
        return CommandLineAction::Error;
    }
    commandLine.m_bReportReady = parser.isSet(reportReady);
    return CommandLineAction::Run;
}

QStringList HandOverArguments(const VGLCommandLine& commandLine) {
    QStringList arguments;
    // A screenshot run pictures its own sessions; handing them to another
    // instance would leave it with nothing to take.
    if (!commandLine.m_ScreenshotPath.isEmpty()) return arguments;
    for (const QString& file : commandLine.m_Files) {
        arguments << QFileInfo(file).absoluteFilePath();
    }
    // "--connect=HOST", so that a host cannot be read as an option.
    for (const QString& host : commandLine.m_ConnectHosts) {
        arguments << QStringLiteral("--connect=") + host;
    }
    if (commandLine.m_Period > 0 && !arguments.isEmpty()) {
        arguments << QStringLiteral("--period=%1").arg(commandLine.m_Period);
    }
    if (commandLine.m_Keep > 0 && !arguments.isEmpty()) {
        arguments << QStringLiteral("--keep=%1").arg(commandLine.m_Keep);
    }
    if (!commandLine.m_ConnectHosts.isEmpty()) {
        if (!commandLine.m_Filter.isEmpty()) arguments << QStringLiteral("--filter=") + commandLine.m_Filter;
        if (!commandLine.m_GroupBy.isEmpty()) arguments << QStringLiteral("--group-by=") + commandLine.m_GroupBy;
    }
    return arguments;
}
