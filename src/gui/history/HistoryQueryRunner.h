#pragma once
// Runs the History view's queries on a thread of its own, one at a time and
// in the order given, over one read-only connection to the history file. A
// job reports back by posting to the UI thread itself; jobs given up (the
// range changed meanwhile) are recognised there by their generation.

#include <QObject>
#include <QString>
#include <QThread>
#include <functional>

class HistoryQuery;

class HistoryQueryRunner : public QObject {
    Q_OBJECT
public:
    explicit HistoryQueryRunner(QString path, QObject* parent = nullptr);
    ~HistoryQueryRunner() override;  // waits for the job in hand, drops the rest

    // The job runs on the runner's thread with the open query; when the file
    // cannot be opened (nothing recorded yet) the job gets a closed one.
    void Run(std::function<void(HistoryQuery& query)> job);

private:
    QString m_Path;
    QThread m_Thread;
    QObject* m_pContext;     // lives on m_Thread
    HistoryQuery* m_pQuery;  // used on m_Thread only
};
