// Runs GoogleTest inside a QApplication, so widget tests can create windows,
// use the clipboard and spin the event loop. Tests run offscreen.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // No alert of a test reaches the desktop of whoever runs them: the
    // program's session bus is one that is not there (the notification tests
    // start a bus of their own).
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vgl-tests-have-no-session-bus");
    QApplication app(argc, argv);
    QApplication::setApplicationName("VGL");
    QApplication::setOrganizationName("VGL-tests");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
