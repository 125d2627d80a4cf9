#pragma once
// The application object of VGL: starts the program (StartInstance), owns
// the main window and the system timer behind the application's GWTimer,
// carries out the command line and handles About and Exit.

#include <QPointer>
#include <QString>
#include <memory>
#include <vector>

#include "app/CommandLine.h"
#include "app/GWWinApp.h"

class CMainFrame;
class CVGLDoc;
class QWidget;
class QtSystemTimer;
class DesktopNotifier;
class FleetTray;
class ScreenshotRunner;

class CVGLApp : public GWWinApp {
public:
    // The document template: no window title of its own, document and
    // file-new name "VGL", the filter, the extension and the shell type.
    static constexpr const char* DocStrings =
        "\nVGL\nVGL\nVGL Files (*.vgl)\n.VGL\nVGL.Document\nVGL Document";

    CVGLApp();
    ~CVGLApp() override;

    // Returns true to enter the event loop, false to end the program.
    bool StartInstance(const VGLCommandLine& commandLine = VGLCommandLine());
    // Connects the sessions named by --connect. StartInstance queues this to
    // run once the main window shows; calling it again does nothing.
    void ConnectCommandLineSessions();

    // Opens what a later start handed over, as new tabs, and brings the main
    // window to the front. Anything but files, hosts and a period is ignored.
    void OnHandOver(const QStringList& arguments) override;

    void ShowAboutBox();
    void ShowManual();
    void ShowIdentity();
    void StartAlerts();
    QWidget* ScreenshotWindow();
    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }

    // There is no socket library to start on this platform; kept as the
    // step of start-up that would report "Windows sockets initialization failed.".
    static bool StartSockets();

private:
    bool ProcessCommandLine();
    void ConnectSession(CVGLDoc& document, const QString& host, const VGLCommandLine& options);
    void RaiseMainFrame();

    VGLCommandLine m_CommandLine;
    std::unique_ptr<QtSystemTimer> m_pSystemTimer;
    std::unique_ptr<CMainFrame> m_pMainFrame;
    std::vector<std::pair<QPointer<CVGLDoc>, QString>> m_PendingConnects;
    std::unique_ptr<ScreenshotRunner> m_pScreenshot;
    std::unique_ptr<DesktopNotifier> m_pNotifier;
    std::unique_ptr<FleetTray> m_pTray;
};
