#pragma once
// The status line's part while an export is written: the file's name, how
// far the writing is, and Cancel. It goes when the export ends.

#include <QWidget>

class ExportJob;
class QProgressBar;

class ExportProgress : public QWidget {
    Q_OBJECT
public:
    ExportProgress(ExportJob* job, QWidget* parent = nullptr);

    QProgressBar* Bar() const { return m_pBar; }

private:
    QProgressBar* m_pBar = nullptr;
};
