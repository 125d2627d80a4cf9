// A session's side of the link's safety: the question about an unknown
// monitor identity, a refused identity told once, the status of a link over
// TLS, and a tls:// server kept by a document.

#include <QTemporaryDir>

#include "SessionFixture.h"
#include "core/monitor/MonKnownMonitors.h"
#include "core/monitor/MonTls.h"
#include "gui/session/SessionSettings.h"
#include "gui/session/TrustPrompt.h"

namespace {

const std::string Presented = "SHA256:" + std::string(42, 'A') + "Q";
const std::string Pinned = "SHA256:" + std::string(42, 'B') + "Q";
const std::string Key = "gate.test:5051";

class TrustTest : public SessionTest {
protected:
    TrustTest() {
        Mon_TlsSetSettings({m_Dir.filePath("identity.pem").toStdString(), KnownPath()});
        SetDialogHook([this](QDialog& dialog) {
            auto* prompt = dynamic_cast<TrustPrompt*>(&dialog);
            if (!prompt) return Answer(dialog);
            m_Prompts << prompt->windowTitle() + "|" + prompt->text();
            (m_bTrust ? prompt->TrustButton() : prompt->DontTrustButton())->click();
            return prompt->result();
        });
    }
    ~TrustTest() override { Mon_TlsSetSettings({}); }

    std::string KnownPath() const { return m_Dir.filePath("known_monitors").toStdString(); }
    // The worker's result for a connect the link's safety refused.
    void Refuse(MonTrustFailure kind) {
        SessionWorker::Result result;
        result.m_bConnect = true;
        result.m_Status = -1;
        result.m_Trust.m_Kind = kind;
        result.m_Trust.m_MonitorKey = Key;
        result.m_Trust.m_Presented = Presented;
        if (kind == MonTrustFailure::Changed) result.m_Trust.m_Known = Pinned;
        m_pDoc->FinishConnect(QString::fromStdString(m_Monitor.Host()), result);
        Settle();
    }

    QTemporaryDir m_Dir;
    bool m_bTrust = false;
    QStringList m_Prompts;
};

TEST_F(TrustTest, TrustPinsTheIdentityAndConnectsAtOnce) {
    m_bTrust = true;
    m_Monitor.QueueBatch(Connection(1, "www", 100, 200));
    Refuse(MonTrustFailure::Unknown);
    ASSERT_EQ(m_Prompts.size(), 1);
    EXPECT_EQ(m_Prompts[0], QString::fromStdString("Trust Monitor|The monitor " + Key +
                                                   " presents the identity " + Presented +
                                                   " which VGL has not seen before. Trust it?"));
    EXPECT_EQ(MonKnownMonitors(KnownPath()).Find(Key), Presented);
    EXPECT_EQ(m_pDoc->m_bDisconnected, 0);
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(m_Messages.isEmpty());
}

TEST_F(TrustTest, DontTrustStaysDisconnectedAndPinsNothing) {
    Refuse(MonTrustFailure::Unknown);
    EXPECT_EQ(m_Prompts.size(), 1);
    EXPECT_EQ(MonKnownMonitors(KnownPath()).Find(Key), "");
    EXPECT_EQ(m_pDoc->m_bDisconnected, 1);
    EXPECT_EQ(m_Monitor.RequestCount(), 0u);
    EXPECT_EQ(m_nDialogs, 0);  // the name was right: no asking for another
    EXPECT_TRUE(m_pDoc->StatusText().contains("was not trusted"));
}

TEST_F(TrustTest, AChangedIdentityIsToldOnceAndNeverTrusted) {
    MonTrustProblem problem;
    problem.m_Kind = MonTrustFailure::Changed;
    problem.m_MonitorKey = Key;
    problem.m_Known = Pinned;
    problem.m_Presented = Presented;
    Refuse(MonTrustFailure::Changed);
    Refuse(MonTrustFailure::Changed);
    EXPECT_EQ(m_Messages, QStringList{QString::fromStdString(Mon_TrustProblemText(problem))});
    EXPECT_TRUE(m_Prompts.isEmpty());
    EXPECT_EQ(MonKnownMonitors(KnownPath()).Find(Key), "");
    EXPECT_EQ(m_pDoc->m_bDisconnected, 1);
}

TEST_F(TrustTest, ALinkOverTlsSaysSoBetweenPolls) {
    m_Monitor.QueueBatch(Connection(1, "www", 100, 200));
    SessionWorker::Result result;
    result.m_bConnect = true;
    result.m_Status = Mon_Open(m_Monitor.Host().c_str(), &result.m_pConnection);
    result.m_Link.m_bEncrypted = true;
    result.m_Link.m_Fingerprint = Presented;
    m_pDoc->FinishConnect(QString::fromStdString(m_Monitor.Host()), result);
    Settle();
    const QString host = QString::fromStdString(m_Monitor.Host());
    EXPECT_EQ(m_pDoc->StatusText(),
              "Connected to " + host + " over TLS (" + QString::fromStdString(Presented) + ")");
    EXPECT_EQ(m_pDoc->LinkDescription(),
              "encrypted (TLS, " + QString::fromStdString(Presented) + ")");
    m_pDoc->OnDisconnect();
    EXPECT_EQ(m_pDoc->LinkDescription(), "");
}

TEST_F(TrustTest, ADocumentKeepsTheTlsFormOfItsServer) {
    m_pDoc->SetServerName("tls://gate.test:6000");
    SessionSettings opened;
    QString error;
    ASSERT_TRUE(opened.ReadJson(SessionSettings::Capture(*m_pDoc).ToJson(), error));
    EXPECT_EQ(opened.m_Server, "tls://gate.test:6000");
    EXPECT_EQ(m_pDoc->SuggestedFileName(), "gate.test_6000");
}

}  // namespace
