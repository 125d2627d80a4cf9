// vgl: the SOCKS5 proxy monitor client.
#include <QApplication>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/IdentityCommand.h"
#include "app/VGLApp.h"

namespace {

// The command line is read under a plain core application, which touches no
// window system: --help, --version and mistakes are answered over ssh, in
// scripts and without a display.
CommandLineAction ReadCommandLine(int argc, char** argv, VGLCommandLine& commandLine) {
    QCoreApplication core(argc, argv);
    QString message;
    const CommandLineAction action =
        ParseCommandLine(QCoreApplication::arguments(), commandLine, message);
    switch (action) {
        case CommandLineAction::Help:
        case CommandLineAction::Version:
            std::fputs(message.toLocal8Bit().constData(), stdout);
            break;
        case CommandLineAction::Error:
            std::fprintf(stderr, "vgl: %s\nTry 'vgl --help' for more information.\n",
                         message.toLocal8Bit().constData());
            break;
        case CommandLineAction::Identity:
        case CommandLineAction::Run:
            break;
    }
    return action;
}

// Prints the fingerprint for the monitors' --monitor-clients file: 0, or 1
// with the reason on standard error.
int PrintIdentity() {
    QString fingerprint;
    QString message;
    if (!IdentityCommand::Fingerprint(fingerprint, message)) {
        std::fprintf(stderr, "vgl: %s\n", message.toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\n", fingerprint.toLocal8Bit().constData());
    return 0;
}

// Provisioned pins are written before a running instance could be handed
// the hosts, so that whichever instance connects finds them.
bool PinTrusted(const VGLCommandLine& commandLine) {
    QString message;
    if (IdentityCommand::PinTrusted(commandLine, message)) return true;
    std::fprintf(stderr, "vgl: %s\n", message.toLocal8Bit().constData());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    VGLCommandLine commandLine;
    switch (ReadCommandLine(argc, argv, commandLine)) {
        case CommandLineAction::Help:
        case CommandLineAction::Version:
            return 0;
        case CommandLineAction::Error:
            return 2;
        case CommandLineAction::Identity:
            return PrintIdentity();
        case CommandLineAction::Run:
            break;
    }
    if (!PinTrusted(commandLine)) return 1;
    // A picture taken unattended must never wait for someone to press OK.
    if (!commandLine.m_ScreenshotPath.isEmpty()) qputenv("VGL_NO_MODAL", "1");

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VGL"));
    QApplication::setOrganizationName(QStringLiteral("VGL"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));

    CVGLApp app;
    if (!app.StartInstance(commandLine)) return app.HandedOver() ? 0 : 1;
    return QApplication::exec();
}
