#pragma once
// The bar a window shows while a query of its runs: busy, with no
// percentage, narrow, and hidden until the query takes long enough to say so.

class QProgressBar;
class QWidget;

QProgressBar* NewBusyBar(QWidget* parent);
