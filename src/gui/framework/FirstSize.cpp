#include "gui/framework/FirstSize.h"

#include <QRect>
#include <QScreen>
#include <QWidget>

void GWFitFirstSize(QWidget& window, const QSize& wanted, const QSize& least) {
    const QScreen* shown = window.screen();
    const QRect available = shown ? shown->availableGeometry() : QRect();
    if (available.isEmpty() ||
        (wanted.width() <= available.width() && wanted.height() <= available.height())) {
        window.resize(wanted);
        return;
    }
    window.resize(wanted.boundedTo(available.size() * 9 / 10).expandedTo(least));
    window.setWindowState(window.windowState() | Qt::WindowMaximized);
}
