#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <algorithm>
#include <string>

#include "core/base/SessionLimits.h"
#include "core/monitor/MonHostForm.h"

namespace {

bool ParseNumber(const QString& text, int low, int high, int& value) {
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high) return false;
    value = number;
    return true;
}

// The options the program understands, added to one parser.
struct Options {
    // Qt's own help option would offer --help-all for options that only a
    // Qt application object understands; this program reads its command line
    // before it builds one.
    QCommandLineOption m_Help{{QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Displays help on commandline options.")};
    QCommandLineOption m_Version{
        QStringLiteral("version")};  // Qt's own (-v, --version), set in Add
    QCommandLineOption m_Connect{
        QStringLiteral("connect"),
        QStringLiteral("Open a new session connected to the monitor on HOST: a name or address, "
                       "HOST:PORT, an IPv6 address or [IPv6]:PORT; the port is 5051 unless "
                       "given. tls://HOST[:PORT] connects over TLS and checks the monitor's "
                       "identity; ssh://[USER@]HOST[:SSHPORT][/MONITOR-HOST[:PORT]] goes "
                       "through a tunnel of ssh (may be repeated)."),
        QStringLiteral("HOST")};
    QCommandLineOption m_Trust{
        QStringLiteral("trust"),
        QStringLiteral("Trust FINGERPRINT (SHA256:...) as the identity of the tls:// monitors "
                       "given with --connect, without asking."),
        QStringLiteral("FINGERPRINT")};
    QCommandLineOption m_Identity{
        QStringLiteral("identity"),
        QStringLiteral("Print the fingerprint of this client's identity, which monitors list "
                       "in their --monitor-clients file, and exit; the identity is made on "
                       "first use.")};
    QCommandLineOption m_Period{
        QStringLiteral("period"),
        QStringLiteral("Poll the sessions opened with --connect every SECONDS (%1 to %2; %3 "
                       "unless given).")
            .arg(MinUpdatePeriod)
            .arg(MaxUpdatePeriod)
            .arg(DefaultUpdatePeriod),
        QStringLiteral("SECONDS")};
    QCommandLineOption m_Keep{
        QStringLiteral("keep"),
        QStringLiteral("Keep at most N connections in the sessions opened with --connect "
                       "(%1 to %2).")
            .arg(MinConnectionLimit)
            .arg(MaxConnectionLimit),
        QStringLiteral("N")};
    QCommandLineOption m_Filter{
        QStringLiteral("filter"),
        QStringLiteral("Show only the connections that meet LINE in the sessions opened with "
                       "--connect (words, user:NAME, dest:10.0.0.0/8, -word)."),
        QStringLiteral("LINE")};
    QCommandLineOption m_GroupBy{
        QStringLiteral("group-by"),
        QStringLiteral("Group the connections of the sessions opened with --connect by user, "
                       "destination, service or client."),
        QStringLiteral("WHAT")};
    QCommandLineOption m_Screenshot{QStringLiteral("screenshot"), QString(),
                                    QStringLiteral("FILE")};
    QCommandLineOption m_Polls{QStringLiteral("polls"), QString(), QStringLiteral("N")};
    QCommandLineOption m_ScreenshotOf{QStringLiteral("screenshot-of"), QString(),
                                      QStringLiteral("WINDOW")};
    QCommandLineOption m_ReportReady{QStringLiteral("report-ready")};

    void Add(QCommandLineParser& parser) {
        parser.setApplicationDescription(
            QStringLiteral("Watches SOCKS5 proxy servers through the monitor beside each proxy.\n"
                           "Qt's own options (-style NAME, -stylesheet FILE, -platform NAME, "
                           "-reverse, ...) are taken as well."));
        parser.addOption(m_Help);
        m_Version = parser.addVersionOption();
        for (QCommandLineOption* hidden : {&m_Screenshot, &m_Polls, &m_ScreenshotOf, &m_ReportReady}) {
            hidden->setFlags(QCommandLineOption::HiddenFromHelp);
        }
        parser.addOptions({m_Connect, m_Trust, m_Identity, m_Period, m_Keep, m_Filter, m_GroupBy,
                           m_Screenshot, m_Polls, m_ScreenshotOf, m_ReportReady});
        parser.addPositionalArgument(QStringLiteral("file"),
                                     QStringLiteral("A session document (*.vgl) to open."),
                                     QStringLiteral("[file...]"));
    }
};

// The options every Qt program takes and its QApplication reads itself
// (with one or two leading dashes): those that take the next argument as
// their value, those that stand alone, and those whose value follows a '='.
const QStringList& QtValueOptions() {
    static const QStringList names = {QStringLiteral("platform"),
                                      QStringLiteral("platformpluginpath"),
                                      QStringLiteral("platformtheme"),
                                      QStringLiteral("plugin"),
                                      QStringLiteral("qwindowgeometry"),
                                      QStringLiteral("qwindowicon"),
                                      QStringLiteral("qwindowtitle"),
                                      QStringLiteral("geometry"),
                                      QStringLiteral("title"),
                                      QStringLiteral("icon"),
                                      QStringLiteral("name"),
                                      QStringLiteral("display"),
                                      QStringLiteral("visual"),
                                      QStringLiteral("session"),
                                      QStringLiteral("style"),
                                      QStringLiteral("stylesheet")};
    return names;
}

const QStringList& QtFlagOptions() {
    static const QStringList names = {QStringLiteral("reverse"),     QStringLiteral("widgetcount"),
                                      QStringLiteral("testability"), QStringLiteral("nograb"),
                                      QStringLiteral("dograb"),      QStringLiteral("sync")};
    return names;
}

const QStringList& QtJoinedOptions() {
    static const QStringList names = {QStringLiteral("style"), QStringLiteral("stylesheet"),
                                      QStringLiteral("qmljsdebugger")};
    return names;
}

// This program's own options whose value may be the next argument: that
// argument is a value, never one of Qt's options.
bool TakesNextArgument(const QString& argument) {
    static const QStringList names = {QStringLiteral("--connect"),    QStringLiteral("--trust"),
                                      QStringLiteral("--period"),     QStringLiteral("--keep"),
                                      QStringLiteral("--filter"),     QStringLiteral("--group-by"),
                                      QStringLiteral("--screenshot"), QStringLiteral("--polls"),
                                      QStringLiteral("--screenshot-of")};
    return names.contains(argument);
}

// How many arguments from `at` on are one of Qt's options: 0 for none, 1 or
// 2 (the option and its value), or -1 when its value is missing.
int QtOptionLength(const QStringList& arguments, qsizetype at) {
    const QString& argument = arguments.at(at);
    if (!argument.startsWith('-')) return 0;
    const QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
    if (QtFlagOptions().contains(name)) return 1;
    const qsizetype equals = name.indexOf('=');
    if (equals > 0 && QtJoinedOptions().contains(name.left(equals))) return 1;
    if (!QtValueOptions().contains(name)) return 0;
    return at + 1 < arguments.size() ? 2 : -1;
}

// The arguments without Qt's own options, which are left in the program's
// arguments for QApplication; false, with the message, for one that lacks
// its value.
bool WithoutQtOptions(const QStringList& arguments, QStringList& rest, QString& message) {
    rest = arguments.mid(0, 1);  // the program's name
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QStringLiteral("--")) {  // only files follow
            rest << arguments.mid(i);
            return true;
        }
        const int length = QtOptionLength(arguments, i);
        if (length < 0) {
            message = QStringLiteral("Missing value after '%1'.").arg(argument);
            return false;
        }
        if (length > 0) {
            i += length - 1;
            continue;
        }
        rest << argument;
        if (TakesNextArgument(argument) && i + 1 < arguments.size()) rest << arguments.at(++i);
    }
    return true;
}

bool ReadHosts(const QCommandLineParser& parser, const Options& options,
               VGLCommandLine& commandLine, QString& message) {
    commandLine.m_ConnectHosts = parser.values(options.m_Connect);
    for (const QString& host : commandLine.m_ConnectHosts) {
        if (host.trimmed().isEmpty()) {
            message = QStringLiteral("--connect needs a host name.");
            return false;
        }
        MonHostForm form;
        if (!Mon_ParseHostForm(host.trimmed().toStdString(), form)) {
            message = QStringLiteral(
                          "--connect %1: give HOST, HOST:PORT, an IPv6 address or "
                          "[IPv6]:PORT, tls://HOST[:PORT] or "
                          "ssh://[USER@]HOST[:SSHPORT][/MONITOR-HOST[:PORT]], with ports from "
                          "1 to 65535.")
                          .arg(host);
            return false;
        }
    }
    return true;
}

// "SHA256:" and the 43 characters of unpadded base64 that 32 bytes make.
bool IsFingerprint(const QString& text) {
    static const QString prefix = QStringLiteral("SHA256:");
    if (!text.startsWith(prefix) || text.size() != prefix.size() + 43) return false;
    for (const QChar c : text.mid(prefix.size())) {
        const bool base64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!base64) return false;
    }
    return true;
}

bool IsTlsHost(const QString& host) {
    MonHostForm form;
    return Mon_ParseHostForm(host.trimmed().toStdString(), form) && form.m_Route == MonRoute::Tls;
}

bool ReadTrust(const QCommandLineParser& parser, const Options& options,
               VGLCommandLine& commandLine, QString& message) {
    if (!parser.isSet(options.m_Trust)) return true;
    commandLine.m_Trust = parser.value(options.m_Trust).trimmed();
    if (!IsFingerprint(commandLine.m_Trust)) {
        message =
            QStringLiteral("--trust %1: a fingerprint is SHA256: and 43 characters of base64.")
                .arg(commandLine.m_Trust);
        return false;
    }
    if (std::none_of(commandLine.m_ConnectHosts.cbegin(), commandLine.m_ConnectHosts.cend(),
                     IsTlsHost)) {
        message = QStringLiteral("--trust applies to tls:// hosts given with --connect.");
        return false;
    }
    return true;
}

// A number that only the sessions opened with --connect take, within its limits.
bool ReadSessionNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int low,
                       int high, const QString& rangeMessage, VGLCommandLine& commandLine,
                       int& value, QString& message) {
    if (!parser.isSet(option)) return true;
    if (commandLine.m_ConnectHosts.isEmpty()) {
        message = QStringLiteral("--%1 applies to sessions opened with --connect.")
                      .arg(option.names().constFirst());
        return false;
    }
    if (!ParseNumber(parser.value(option), low, high, value)) {
        message = rangeMessage.arg(low).arg(high);
        return false;
    }
    return true;
}

bool ReadSessionNumbers(const QCommandLineParser& parser, const Options& options,
                        VGLCommandLine& commandLine, QString& message) {
    return ReadSessionNumber(
               parser, options.m_Period, MinUpdatePeriod, MaxUpdatePeriod,
               QStringLiteral("The period must be a whole number of seconds from %1 to %2."),
               commandLine, commandLine.m_Period, message) &&
           ReadSessionNumber(parser, options.m_Keep, MinConnectionLimit, MaxConnectionLimit,
                             QStringLiteral("--keep needs a number from %1 to %2."), commandLine,
                             commandLine.m_Keep, message);
}

// --filter and --group-by: what the grids of the --connect sessions show.
bool ReadViewChoice(const QCommandLineParser& parser, const Options& options,
                    VGLCommandLine& commandLine, QString& message) {
    const bool given = parser.isSet(options.m_Filter) || parser.isSet(options.m_GroupBy);
    if (given && commandLine.m_ConnectHosts.isEmpty()) {
        message =
            QStringLiteral("--filter and --group-by apply to sessions opened with --connect.");
        return false;
    }
    commandLine.m_Filter = parser.value(options.m_Filter);
    commandLine.m_GroupBy = parser.value(options.m_GroupBy).toLower();
    static const QStringList groupings = {QStringLiteral("connection"), QStringLiteral("user"),
                                          QStringLiteral("destination"), QStringLiteral("service"),
                                          QStringLiteral("client")};
    if (parser.isSet(options.m_GroupBy) && !groupings.contains(commandLine.m_GroupBy)) {
        message =
            QStringLiteral("--group-by takes connection, user, destination, service or client.");
        return false;
    }
    return true;
}

bool ReadHidden(const QCommandLineParser& parser, const Options& options,
                VGLCommandLine& commandLine, QString& message) {
    commandLine.m_ScreenshotPath = parser.value(options.m_Screenshot);
    commandLine.m_ScreenshotOf = parser.value(options.m_ScreenshotOf);
    if (parser.isSet(options.m_Polls) &&
        !ParseNumber(parser.value(options.m_Polls), 0, 1000, commandLine.m_ScreenshotPolls)) {
        message = QStringLiteral("--polls needs a number from 0 to 1000.");
        return false;
    }
    commandLine.m_bReportReady = parser.isSet(options.m_ReportReady);
    return true;
}

}  // namespace

CommandLineAction ParseCommandLine(const QStringList& arguments, VGLCommandLine& commandLine,
                                   QString& message) {
    QCommandLineParser parser;
    Options options;
    options.Add(parser);
    QStringList ours;
    if (!WithoutQtOptions(arguments, ours, message)) return CommandLineAction::Error;
    if (!parser.parse(ours)) {
        message = parser.errorText();
        return CommandLineAction::Error;
    }
    if (parser.isSet(options.m_Help)) {
        message = parser.helpText();
        return CommandLineAction::Help;
    }
    if (parser.isSet(options.m_Version)) {
        message = QStringLiteral("VGL 2.0 (Socks Vigil beta version 2.0)\n");
        return CommandLineAction::Version;
    }
    if (parser.isSet(options.m_Identity)) return CommandLineAction::Identity;
    commandLine = VGLCommandLine();
    commandLine.m_Files = parser.positionalArguments();
    const bool read = ReadHosts(parser, options, commandLine, message) &&
                      ReadTrust(parser, options, commandLine, message) &&
                      ReadSessionNumbers(parser, options, commandLine, message) &&
                      ReadViewChoice(parser, options, commandLine, message) &&
                      ReadHidden(parser, options, commandLine, message);
    return read ? CommandLineAction::Run : CommandLineAction::Error;
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
        if (!commandLine.m_Filter.isEmpty())
            arguments << QStringLiteral("--filter=") + commandLine.m_Filter;
        if (!commandLine.m_GroupBy.isEmpty())
            arguments << QStringLiteral("--group-by=") + commandLine.m_GroupBy;
    }
    return arguments;
}
