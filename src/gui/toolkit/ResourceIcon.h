#pragma once
// Icons by resource number, as the windows of the program name them (128 the
// main frame, 129 the document frames). The images live in the program's
// resource file as :/icons/<number>-<size>.png in several sizes.

#include <QIcon>

QIcon ResourceIcon(int resourceId);
