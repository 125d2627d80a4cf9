#pragma once
// The About box: the application's icon, the version line and OK.

#include <QDialog>

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
};
