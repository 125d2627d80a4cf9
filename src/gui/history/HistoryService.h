#pragma once
// The program's one history writer and its settings. Sessions hand their
// batches here; the History view and its settings dialog find the file and
// the options here. The writer's notices (a file moved aside, writing
// stopped) reach the user once each, as a message box on the UI thread.

#include <QObject>
#include <QString>
#include <memory>

#include "core/history/HistoryBatch.h"
#include "core/history/HistoryRetention.h"

class HistoryWriter;

class HistoryService : public QObject {
    Q_OBJECT
public:
    // Created at first use with the options kept in the settings; lives
    // until the application object ends, then writes what is pending.
    static HistoryService& Instance();
    ~HistoryService() override;

    // Hands a batch to the writer without waiting; false when the writer is
    // behind and pending periods were merged.
    bool Submit(HistoryBatch&& batch);

    QString Path() const { return m_Path; }
    bool IsEnabled() const { return m_bEnabled; }
    int KeepDays() const { return m_KeepDays; }
    int MaxMiB() const { return m_MaxMiB; }
    // Applies and keeps the options (days and MiB from 1 on).
    void SetOptions(bool enabled, int keepDays, int maxMiB);
    void Clear();  // deletes everything recorded so far
    // Waits until what was handed over is written (tests, screenshots).
    void Flush();

signals:
    void notice(const QString& text);

private:
    HistoryService();
    void OnNotice(const QString& text);

    QString m_Path;
    bool m_bEnabled = true;
    int m_KeepDays = DefaultHistoryDays;
    int m_MaxMiB = DefaultHistoryMiB;
    std::unique_ptr<HistoryWriter> m_pWriter;
};
