#include "gui/framework/BusyBar.h"

#include <QProgressBar>

QProgressBar* NewBusyBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 0);  // busy, no percentage
    bar->setMaximumWidth(160);
    bar->setFormat(QString());
    bar->hide();
    return bar;
}
