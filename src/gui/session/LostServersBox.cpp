#include "gui/session/LostServersBox.h"

#include <QMessageBox>
#include <QStringList>

#include "gui/framework/Dialogs.h"

namespace {

const char* const DisconnectedText = "The server has been disconnected !";
const char* const ReconnectingText = "VGL is reconnecting on its own.";

struct BoxState {
    bool m_bUp = false;
    QStringList m_Servers;            // in the order they were lost, each once
    bool m_bListing = false;          // the box has named several: it names who is left
    QMessageBox* m_pShown = nullptr;  // the real box while it is up
};

BoxState& State() {
    static BoxState state;
    return state;
}

void AddServer(const QString& server) {
    if (!State().m_Servers.contains(server)) State().m_Servers << server;
    if (State().m_Servers.size() > 1) State().m_bListing = true;
}

}  // namespace

QString LostServersBox::Text() {
    const BoxState& state = State();
    // A box whose servers are all back is closing.
    if (!state.m_bUp || state.m_Servers.isEmpty()) return {};
    const QString text =
        QString::fromLatin1(DisconnectedText) + QChar('\n') + QString::fromLatin1(ReconnectingText);
    // One session: no list; its tab and status line name the server already.
    if (!state.m_bListing) return text;
    return text + QStringLiteral("\n\n") + state.m_Servers.join(QChar('\n'));
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
    state.m_bListing = false;
    state.m_Servers.clear();
}

void LostServersBox::Recovered(const QString& server) {
    BoxState& state = State();
    if (!state.m_bUp || !state.m_Servers.removeOne(server)) return;
    if (!state.m_pShown) return;
    if (state.m_Servers.isEmpty()) {
        state.m_pShown->done(QMessageBox::Ok);
    } else {
        state.m_pShown->setText(Text());
    }
}
