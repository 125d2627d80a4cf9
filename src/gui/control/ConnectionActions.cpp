#include "gui/control/ConnectionActions.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "gui/control/ControlConfirmDlg.h"
#include "gui/framework/Dialogs.h"
#include "gui/framework/GWApp.h"
#include "gui/framework/GWFrame.h"
#include "gui/session/CVGLDoc.h"

namespace ConnectionActions {

namespace {

MonBlockWhat WhatOf(Action action) {
    switch (action) {
        case Action::BlockClient:
            return MonBlockWhat::Client;
        case Action::BlockDestination:
            return MonBlockWhat::Destination;
        default:
            return MonBlockWhat::User;
    }
}

const std::vector<std::string>& ValuesOf(const ControlTargets& targets, Action action) {
    switch (action) {
        case Action::BlockClient:
            return targets.m_Clients;
        case Action::BlockDestination:
            return targets.m_Destinations;
        default:
            return targets.m_Users;
    }
}

QString ServerOf(const CVGLDoc& document) {
    return document.ServerName().isEmpty()
               ? QString::fromStdString(document.GetTable().ServerName())
               : document.ServerName();
}

void ShowStatus(const QString& text) {
    if (GWApp* app = GWApp::Get()) {
        if (auto* frame = dynamic_cast<QMainWindow*>(app->GetMainFrame())) {
            frame->statusBar()->showMessage(text, 15000);
        }
    }
}

// Collects the answers of one confirmed action and tells them once all are in.
class Outcome {
public:
    Outcome(QString server, size_t expected, QWidget* parent)
        : m_Server(std::move(server)), m_Left(expected), m_pParent(parent) {}

    void Take(const SessionWorker::Reply& reply) {
        const MonControlAnswer& answer = reply.m_Answer;
        const QString text = QString::fromStdString(answer.m_Text);
        if (answer.m_Status == MonControlStatus::Done) {
            ++m_Done;
            m_Closed += answer.m_Closed;
            if (!text.isEmpty()) m_LastDone = text;
        } else {
            m_Refusals << text;
        }
        if (--m_Left == 0) Tell();
    }

private:
    void Tell() {
        QString status = m_Done == 1 && !m_LastDone.isEmpty()
                             ? QStringLiteral("%1: %2").arg(m_Server, m_LastDone)
                             : QStringLiteral("%1: %2 done").arg(m_Server).arg(m_Done);
        if (m_Closed > 0 && m_Done != 1) {
            status += QStringLiteral(", %1 connections closed").arg(m_Closed);
        }
        if (!m_Refusals.isEmpty()) status += QStringLiteral(", %1 refused").arg(m_Refusals.size());
        ShowStatus(status);
        if (m_Refusals.isEmpty()) return;
        // Not from inside the poll that brought the answers.
        QPointer<QWidget> parent = m_pParent;
        const QString message = QStringLiteral("The monitor of %1 refused:\n\n%2")
                                    .arg(m_Server, m_Refusals.join(QLatin1Char('\n')));
        QTimer::singleShot(0, [parent, message] { GWMessageBox(message, parent); });
    }

    QString m_Server;
    size_t m_Left;
    QPointer<QWidget> m_pParent;
    size_t m_Done = 0;
    uint32_t m_Closed = 0;
    QString m_LastDone;
    QStringList m_Refusals;
};

}  // namespace

QString Text(Action action) {
    switch (action) {
        case Action::Close:
            return QStringLiteral("C&lose Connection");
        case Action::BlockUser:
            return QStringLiteral("Block &User...");
        case Action::BlockClient:
            return QStringLiteral("Block Clie&nt...");
        case Action::BlockDestination:
            return QStringLiteral("Block Des&tination...");
    }
    return {};
}

bool Allowed(const CVGLDoc* document, Action action, const ControlTargets* targets,
             QString& whyNot) {
    if (document == nullptr || !document->GetTable().IsConnected()) {
        whyNot = QStringLiteral("The session is not connected.");
        return false;
    }
    const SessionControl& control = document->Control();
    whyNot = action == Action::Close ? control.WhyNotClose() : control.WhyNotBlock();
    if (!whyNot.isEmpty() || !targets) return whyNot.isEmpty();
    if (action == Action::Close && targets->m_Open.empty()) {
        whyNot = QStringLiteral("Choose an open connection first.");
    } else if (action != Action::Close && ValuesOf(*targets, action).empty()) {
        whyNot = action == Action::BlockUser
                     ? QStringLiteral("The chosen connections have no user name.")
                     : QStringLiteral("Choose a connection first.");
    }
    return whyNot.isEmpty();
}

void Run(CVGLDoc* document, Action action, const ControlTargets& targets, QWidget* parent) {
    QString whyNot;
    if (!Allowed(document, action, &targets, whyNot)) {
        if (document && document->GetTable().IsConnected()) {
            GWMessageBox(whyNot, parent);
        }
        return;
    }
    const QString server = ServerOf(*document);
    const MonControlOp op = action == Action::Close ? MonControlOp::Close : MonControlOp::Block;
    ControlConfirmDlg dialog(op, WhatOf(action), targets, server, parent);
    QPointer<CVGLDoc> session = document;
    if (GWExecDialog(dialog) != QDialog::Accepted || !session) return;
    const std::vector<MonControlRequest> requests = dialog.Requests();
    auto outcome = std::make_shared<Outcome>(server, requests.size(), parent);
    ShowStatus(QStringLiteral("Asking the monitor of %1\u2026").arg(server));
    for (const MonControlRequest& request : requests) {
        session->AskMonitor(request,
                            [outcome](const SessionWorker::Reply& reply) { outcome->Take(reply); });
    }
}

void AddToMenu(QMenu* menu, CVGLDoc* document, const ControlTargets& targets, QWidget* parent) {
    menu->setToolTipsVisible(true);
    QPointer<CVGLDoc> session = document;
    for (Action action :
         {Action::Close, Action::BlockUser, Action::BlockClient, Action::BlockDestination}) {
        QAction* item = menu->addAction(Text(action));
        QString whyNot;
        item->setEnabled(Allowed(document, action, &targets, whyNot));
        item->setToolTip(whyNot.isEmpty() ? item->text().remove(QLatin1Char('&')) : whyNot);
        QObject::connect(item, &QAction::triggered, parent, [session, action, targets, parent] {
            if (session) Run(session, action, targets, parent);
        });
    }
}

}  // namespace ConnectionActions
