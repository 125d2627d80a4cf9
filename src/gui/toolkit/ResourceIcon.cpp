#include "gui/toolkit/ResourceIcon.h"

#include <QFile>
#include <QString>

// The resources are compiled into a static library; nothing would pull them
// into the program unless something refers to them. (Outside any namespace:
// the macro declares the initialiser where it stands.)
static void InitResources() {
    static bool done = false;
    if (done) return;
    Q_INIT_RESOURCE(vgl);
    done = true;
}

QIcon ResourceIcon(int resourceId) {
    InitResources();
    QIcon icon;
    for (int size : {15, 16, 24, 32, 48, 64, 128}) {
        const QString path = QStringLiteral(":/icons/%1-%2.png").arg(resourceId).arg(size);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    return icon;
}
