#include "gui/session/LostServersBox.h"

#include <QMessageBox>
#include <QStringList>

#include "gui/framework/Dialogs.h"

namespace {

const char* const DisconnectedText = "The server has been disconnected !";

struct BoxState {
    bool m_bUp = false;
    QStringList m_Servers;            // in the order they were lost, each once
    QMessageBox* m_pShown = nullptr;  // the real box while it is up
};

BoxState& State() {
    static BoxState state;
    return state;
}

void AddServer(const QString& server) {
    if (!State().m_Servers.contains(server)) State().m_Servers << server;
}

}  // namespace

QString LostServersBox::Text() {
    const BoxState& state = State();
    if (!state.m_bUp) return {};
    // One session: the described text alone; its tab and status line name
    // the server already.
    if (state.m_Servers.size() < 2) return QString::fromLatin1(DisconnectedText);
    return QString::fromLatin1(DisconnectedText) + QStringLiteral("\n\n") +
           state.m_Servers.join(QChar('\n'));
}

void LostServersBox::Report(const QString& server) {
    BoxState& state = State();
    if (state.m_bUp) {
        AddServer(server);
        if (state.m_pShown) state.m_pShown->setText(Text());
        return;
    }
    state.m_bUp = true;
    AddServer(server);
    // The box is modal: other sessions' losses arrive through its event loop
    // and come back here while it is up.
    GWMessageBox(Text(), nullptr, &state.m_pShown);
    state.m_bUp = false;
    state.m_Servers.clear();
}
