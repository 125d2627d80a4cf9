#include "app/AboutBox.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "gui/toolkit/ResourceIcon.h"

namespace {
constexpr int AppIconId = 128;
constexpr int IconSize = 32;
}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Socks Vigil Client"));
    auto* icon = new QLabel(this);
    icon->setPixmap(ResourceIcon(AppIconId).pixmap(IconSize, IconSize));
    auto* version = new QLabel(QStringLiteral("Socks Vigil beta version 2.0"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(16, 16, 12, 12);
    layout->setHorizontalSpacing(16);
    layout->addWidget(icon, 0, 0, Qt::AlignVCenter);
    layout->addWidget(version, 0, 1, Qt::AlignVCenter);
    layout->addWidget(buttons, 0, 2, Qt::AlignVCenter);
    layout->setColumnStretch(1, 1);
    setFixedSize(sizeHint().expandedTo(QSize(325, 90)));
}
