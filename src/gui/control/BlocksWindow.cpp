#include "gui/control/BlocksWindow.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <set>

#include "gui/framework/Dialogs.h"
#include "gui/session/CVGLDoc.h"

namespace {

enum Column { What, Value, By, Since, Until, Note, ColumnCount };

QString TimeText(uint64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString ServerOf(const CVGLDoc& document) {
    return document.ServerName().isEmpty()
               ? QString::fromStdString(document.GetTable().ServerName())
               : document.ServerName();
}

}  // namespace

BlocksWindow::BlocksWindow(CVGLDoc* document, QWidget* owner)
    : QWidget(owner, Qt::Window), m_pDocument(document) {
    setWindowTitle(QStringLiteral("Blocks \u2014 %1").arg(ServerOf(*document)));
    m_pStatus = new QLabel(this);
    m_pStatus->setWordWrap(true);
    m_pTable = new QTableWidget(0, ColumnCount, this);
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("Block"), QStringLiteral("Value"),
                                         QStringLiteral("By"), QStringLiteral("Since"),
                                         QStringLiteral("Until"), QStringLiteral("Note")});
    m_pTable->verticalHeader()->hide();
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    m_pTable->setWordWrap(false);
    const int time = fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00")) + 16;
    m_pTable->setColumnWidth(Value, fontMetrics().averageCharWidth() * 22);
    m_pTable->setColumnWidth(By, fontMetrics().averageCharWidth() * 16);
    m_pTable->setColumnWidth(Since, time);
    m_pTable->setColumnWidth(Until, time);
    m_pLift = new QPushButton(QStringLiteral("&Lift"), this);
    m_pRefresh = new QPushButton(QStringLiteral("&Refresh"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pLift);
    buttons->addStretch(1);
    buttons->addWidget(m_pRefresh);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pStatus);
    layout->addWidget(m_pTable, 1);
    layout->addLayout(buttons);
    resize(fontMetrics().averageCharWidth() * 130, fontMetrics().height() * 22);

    connect(m_pLift, &QPushButton::clicked, this, &BlocksWindow::LiftChosen);
    connect(m_pRefresh, &QPushButton::clicked, this, &BlocksWindow::Refresh);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_pTable, &QTableWidget::itemSelectionChanged, this, &BlocksWindow::UpdateButtons);
    connect(document, &CVGLDoc::monitorActed, this, &BlocksWindow::Refresh);
    connect(document, &CVGLDoc::stateChanged, this, &BlocksWindow::Refresh);
    connect(document, &QObject::destroyed, this, &QWidget::close);
    Refresh();
}

BlocksWindow* BlocksWindow::ShowFor(CVGLDoc* document, QWidget* owner) {
    BlocksWindow* window = nullptr;
    for (BlocksWindow* open : owner->findChildren<BlocksWindow*>()) {
        if (open->Document() == document) window = open;
    }
    if (!window) {
        window = new BlocksWindow(document, owner);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void BlocksWindow::SetStatus(const QString& text) {
    m_pStatus->setText(text);
    UpdateButtons();
}

void BlocksWindow::UpdateButtons() {
    const bool may = m_pDocument && m_pDocument->Control().MayBlock();
    m_pLift->setEnabled(may && !m_pTable->selectionModel()->selectedRows().isEmpty());
    m_pLift->setToolTip(may           ? QString()
                        : m_pDocument ? m_pDocument->Control().WhyNotBlock()
                                      : QString());
    m_pRefresh->setEnabled(may);
}

void BlocksWindow::Refresh() {
    if (!m_pDocument) return;
    if (!m_pDocument->Control().MayBlock()) {
        Show({});
        SetStatus(m_pDocument->Control().WhyNotBlock());
        return;
    }
    SetStatus(QStringLiteral("Asking %1 for its blocks\u2026").arg(ServerOf(*m_pDocument)));
    MonControlRequest request;
    request.m_Op = MonControlOp::ListBlocks;
    QPointer<BlocksWindow> self = this;
    m_pDocument->AskMonitor(request, [self](const SessionWorker::Reply& reply) {
        if (!self) return;
        if (reply.m_Answer.m_Status != MonControlStatus::Done) {
            self->SetStatus(QStringLiteral("The blocks could not be listed: %1")
                                .arg(QString::fromStdString(reply.m_Answer.m_Text)));
            return;
        }
        self->Show(reply.m_Blocks);
    });
}

void BlocksWindow::Show(const std::vector<MonBlock>& blocks) {
    m_Blocks = blocks;
    m_pTable->setRowCount(static_cast<int>(blocks.size()));
    for (int row = 0; row < static_cast<int>(blocks.size()); ++row) {
        const MonBlock& block = blocks[static_cast<size_t>(row)];
        const QString by = QString::fromStdString(block.m_ByName);
        const QString texts[ColumnCount] = {
            QString::fromLatin1(MonBlockWhatName(block.m_What)),
            QString::fromStdString(block.m_Value),
            by,
            TimeText(block.m_Since),
            block.m_Until == 0 ? QStringLiteral("until lifted") : TimeText(block.m_Until),
            QString::fromStdString(block.m_Note)};
        for (int column = 0; column < ColumnCount; ++column) {
            auto* item = new QTableWidgetItem(texts[column]);
            if (column == By) item->setToolTip(QString::fromStdString(block.m_ByFingerprint));
            m_pTable->setItem(row, column, item);
        }
    }
    SetStatus(blocks.empty() ? QStringLiteral("%1 keeps no blocks.").arg(ServerOf(*m_pDocument))
                             : QStringLiteral("%1 keeps %2 block%3.")
                                   .arg(ServerOf(*m_pDocument))
                                   .arg(blocks.size())
                                   .arg(blocks.size() == 1 ? "" : "s"));
}

void BlocksWindow::LiftChosen() {
    std::set<int> rows;
    for (const QModelIndex& index : m_pTable->selectionModel()->selectedRows()) {
        rows.insert(index.row());
    }
    if (rows.empty() || !m_pDocument) return;
    QStringList names;
    std::vector<uint32_t> ids;
    for (int row : rows) {
        const MonBlock& block = m_Blocks.at(static_cast<size_t>(row));
        names << QString::fromStdString(MonBlockText(block.m_What, block.m_Value));
        ids.push_back(block.m_Id);
    }
    const QString question =
        QStringLiteral("Lift %1 on %2? New connections it refused are allowed again.")
            .arg(names.join(QStringLiteral(", ")), ServerOf(*m_pDocument));
    QMessageBox ask(QMessageBox::Question, QStringLiteral("Lift Block"), question,
                    QMessageBox::Yes | QMessageBox::No, this);
    if (GWExecDialog(ask) != QMessageBox::Yes || !m_pDocument) return;
    QPointer<BlocksWindow> self = this;
    for (uint32_t id : ids) {
        MonControlRequest request;
        request.m_Op = MonControlOp::Lift;
        request.m_BlockId = id;
        m_pDocument->AskMonitor(request, [self](const SessionWorker::Reply& reply) {
            if (self && reply.m_Answer.m_Status != MonControlStatus::Done) {
                self->SetStatus(QStringLiteral("Not lifted: %1")
                                    .arg(QString::fromStdString(reply.m_Answer.m_Text)));
            }
        });
    }
}
