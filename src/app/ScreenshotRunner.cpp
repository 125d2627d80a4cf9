#include "app/ScreenshotRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "gui/framework/GWView.h"
#include "gui/session/CVGLDoc.h"

// A view without a window that counts the updates of its session: every
// poll that reaches the views is one.
class ScreenshotRunner::PollCounter : public GWView {
public:
    PollCounter(CVGLDoc& document, ScreenshotRunner& runner)
        : m_pDocument(&document), m_Runner(runner) {
        document.AddView(this);
    }
    QWidget* GetWidget() override { return nullptr; }
    void OnUpdate(GWView*, intptr_t, QObject*) override {
        ++m_nUpdates;
        m_Runner.OnPoll();
    }
    bool Done(int polls) const {
        return m_nUpdates >= polls || !m_pDocument ||
               (m_pDocument->m_bDisconnected != 0 && !m_pDocument->IsConnecting());
    }

private:
    QPointer<CVGLDoc> m_pDocument;
    ScreenshotRunner& m_Runner;
    int m_nUpdates = 0;
};

ScreenshotRunner::ScreenshotRunner(QWidget* window, const QString& path, int polls, int timeoutMs,
                                   QObject* parent)
    : QObject(parent), m_pWindow(window), m_Path(path), m_nPolls(polls), m_nTimeoutMs(timeoutMs) {}

ScreenshotRunner::~ScreenshotRunner() = default;

void ScreenshotRunner::Start(const std::vector<CVGLDoc*>& documents) {
    for (CVGLDoc* document : documents) {
        if (document && (document->m_bDisconnected == 0 || document->IsConnecting())) {
            m_Counters.push_back(std::make_unique<PollCounter>(*document, *this));
            m_Documents.emplace_back(document);
        }
    }
    QTimer::singleShot(m_nTimeoutMs, this, [this] { Finish(Done()); });
    OnPoll();
}

bool ScreenshotRunner::Done() const {
    for (const auto& counter : m_Counters) {
        if (!counter->Done(m_nPolls)) return false;
    }
    return true;
}

void ScreenshotRunner::OnPoll() {
    // Leave the update that counted this poll to finish painting first.
    if (m_bFinished || !Done()) return;
    if (m_Stage && !m_Documents.empty() && m_Documents.front()) {
        const Stage stage = std::exchange(m_Stage, nullptr);
        ++m_nPolls;
        QTimer::singleShot(0, this, [this, stage] {
            if (m_Documents.front()) m_pWindow = stage(*m_Documents.front());
            m_Documents.front()->Refresh();  // the poll that brings the answers
        });
        return;
    }
    QTimer::singleShot(0, this, [this] { Finish(true); });
}

void ScreenshotRunner::Finish(bool complete) {
    if (m_bFinished) return;
    m_bFinished = true;
    bool saved = false;
    if (m_pWindow) {
        QDir().mkpath(QFileInfo(m_Path).absolutePath());
        saved = m_pWindow->grab().save(m_Path);
    }
    const QByteArray where = QFileInfo(m_Path).absoluteFilePath().toLocal8Bit();
    if (saved) {
        std::printf("vgl: screenshot saved to %s\n", where.constData());
    } else {
        std::fprintf(stderr, "vgl: could not save the screenshot to %s\n", where.constData());
    }
    if (!complete)
        std::fprintf(stderr, "vgl: the sessions did not poll %d times in time\n", m_nPolls);
    std::fflush(stdout);
    QCoreApplication::exit(saved && complete ? 0 : 1);
}
