#pragma once
// A top-level window's first size: `wanted` where that fits the screen's
// available area; where it does not (a small screen, or a large scale
// factor) the window opens maximised, its normal size fitted inside that
// area but never below `least`.

#include <QSize>

class QWidget;

void GWFitFirstSize(QWidget& window, const QSize& wanted, const QSize& least);
