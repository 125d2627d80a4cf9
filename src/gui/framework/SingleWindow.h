#pragma once
// The program's one window of a kind (Servers, Alerts): made at first use as
// a window of its own over `owner`, deleted when closed, and brought to the
// front each time it is asked for.

#include <QPointer>
#include <QWidget>

template <typename Window>
Window* ShowSingleWindow(QPointer<Window>& window, QWidget* owner) {
    if (!window) {
        window = new Window(owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
