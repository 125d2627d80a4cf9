#include "gui/grid/ExportProgress.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "gui/grid/ExportJob.h"

ExportProgress::ExportProgress(ExportJob* job, QWidget* parent) : QWidget(parent) {
    auto* label = new QLabel(
        QStringLiteral("Exporting to %1").arg(QFileInfo(job->FileName()).fileName()), this);
    m_pBar = new QProgressBar(this);
    m_pBar->setRange(0, 1000);
    m_pBar->setValue(0);
    m_pBar->setMaximumWidth(160);
    m_pBar->setMaximumHeight(label->sizeHint().height());
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setAutoDefault(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(m_pBar);
    layout->addWidget(cancel);

    connect(cancel, &QPushButton::clicked, job, &ExportJob::Cancel);
    connect(job, &ExportJob::progress, this, [this](qulonglong written, qulonglong rows) {
        if (rows > 0) m_pBar->setValue(static_cast<int>(written * 1000 / rows));
    });
    connect(job, &ExportJob::finished, this, &QObject::deleteLater);
    connect(job, &QObject::destroyed, this, &QObject::deleteLater);
}
