#pragma once
// An export written on a thread of its own. The rows were taken as a sheet
// on the UI thread; the file is written meanwhile, so polls go on and the
// window stays live. The file appears only once it is complete: a cancelled
// or failed export leaves whatever was there before.

#include <QObject>
#include <QString>
#include <atomic>
#include <thread>

#include "core/view/ExportSheet.h"

class ExportJob : public QObject {
    Q_OBJECT
public:
    enum class Format { Csv, Json };

    ExportJob(ExportSheet sheet, const QString& fileName, Format format, QObject* parent = nullptr);
    // Cancels what is left and waits for the thread.
    ~ExportJob() override;

    // Starts writing on the job's thread.
    void Start();
    void Cancel() { m_bCancel = true; }
    size_t Rows() const { return m_nRows; }
    const QString& FileName() const { return m_FileName; }

signals:
    // Now and then, as rows are written.
    void progress(qulonglong written, qulonglong rows);
    // Once: done when the file is complete, else error says why (empty when
    // the user cancelled).
    void finished(bool done, const QString& error);

private:
    void Write();
    void Tell(bool done, const QString& error);

    ExportSheet m_Sheet;
    QString m_FileName;
    Format m_Format;
    size_t m_nRows;
    std::atomic<bool> m_bCancel{false};
    std::thread m_Thread;
};
