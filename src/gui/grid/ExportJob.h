#pragma once
// An export written on a thread of its own (core/view/ExportWriter) into a
// QSaveFile, its progress and end told on the UI thread. The rows were taken
// as a sheet on the UI thread; polls go on while the file is written, and it
// appears only once it is complete.

#include <QObject>
#include <QString>
#include <memory>

#include "core/view/ExportWriter.h"

class ExportJob : public QObject {
    Q_OBJECT
public:
    using Format = ExportWriter::Format;

    ExportJob(ExportSheet sheet, const QString& fileName, Format format,
              QObject* parent = nullptr);
    // Cancels what is left and waits for the thread.
    ~ExportJob() override;

    // Starts writing on the job's thread.
    void Start() { m_pWriter->Start(); }
    void Cancel() { m_pWriter->Cancel(); }
    const QString& FileName() const { return m_FileName; }

signals:
    // Now and then, as rows are written.
    void progress(qulonglong written, qulonglong rows);
    // Once: done when the file is complete, else error says why (empty when
    // the user cancelled).
    void finished(bool done, const QString& error);

private:
    QString m_FileName;
    std::unique_ptr<ExportWriter> m_pWriter;
};
