#pragma once
// Demo and test aid (vgl --screenshot FILE --polls N): waits until every
// connected session has polled its monitor N times, saves a picture of the
// main window to FILE, says where on standard output and ends the program.
// If the polls don't come in time the picture is taken anyway and the
// program ends with a failure code.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class CVGLDoc;
class QWidget;

class ScreenshotRunner : public QObject {
    Q_OBJECT
public:
    ScreenshotRunner(QWidget* window, const QString& path, int polls, int timeoutMs,
                     QObject* parent = nullptr);
    ~ScreenshotRunner() override;

    // Starts watching the sessions that are connected or connecting now.
    void Start(const std::vector<CVGLDoc*>& documents);
    // Once the sessions have polled, `stage` makes the widget to picture
    // from the first of them, and the picture waits for one more poll.
    using Stage = std::function<QWidget*(CVGLDoc&)>;
    void SetStage(Stage stage) { m_Stage = std::move(stage); }

private:
    class PollCounter;
    void OnPoll();
    bool Done() const;
    void Finish(bool complete);

    QPointer<QWidget> m_pWindow;
    QString m_Path;
    int m_nPolls;
    int m_nTimeoutMs;
    bool m_bFinished = false;
    std::vector<std::unique_ptr<PollCounter>> m_Counters;
    std::vector<QPointer<CVGLDoc>> m_Documents;
    Stage m_Stage;
};
