#include "gui/history/HistoryQueryRunner.h"

#include "core/history/HistoryQuery.h"

HistoryQueryRunner::HistoryQueryRunner(QString path, QObject* parent)
    : QObject(parent),
      m_Path(std::move(path)),
      m_pContext(new QObject),
      m_pQuery(new HistoryQuery) {
    m_pContext->moveToThread(&m_Thread);
    m_Thread.start();
}

HistoryQueryRunner::~HistoryQueryRunner() {
    m_Thread.quit();
    m_Thread.wait();
    delete m_pContext;
    delete m_pQuery;
}

void HistoryQueryRunner::Run(std::function<void(HistoryQuery& query)> job) {
    HistoryQuery* query = m_pQuery;
    const std::string path = m_Path.toStdString();
    QMetaObject::invokeMethod(
        m_pContext,
        [query, path, job = std::move(job)] {
            // Opened at the first job that finds the file: until a session
            // has recorded something there is none.
            if (!query->IsOpen()) {
                try {
                    query->Open(path);
                } catch (const std::exception&) {
                }
            }
            job(*query);
        },
        Qt::QueuedConnection);
}
