// vgl: the SOCKS5 proxy monitor client.
#include <QApplication>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/VGLApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VGL"));
    QApplication::setOrganizationName(QStringLiteral("VGL"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));

    VGLCommandLine commandLine;
    QString message;
    switch (ParseCommandLine(QApplication::arguments(), commandLine, message)) {
        case CommandLineAction::Help:
        case CommandLineAction::Version:
            std::fputs(message.toLocal8Bit().constData(), stdout);
            return 0;
        case CommandLineAction::Error:
            std::fprintf(stderr, "vgl: %s\nTry 'vgl --help' for more information.\n",
                         message.toLocal8Bit().constData());
            return 2;
        case CommandLineAction::Run:
            break;
    }
    // A picture taken unattended must never wait for someone to press OK.
    if (!commandLine.m_ScreenshotPath.isEmpty()) qputenv("VGL_NO_MODAL", "1");

    CVGLApp app;
    if (!app.StartInstance(commandLine)) return 1;
    return QApplication::exec();
}
