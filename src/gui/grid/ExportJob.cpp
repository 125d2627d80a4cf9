#include "gui/grid/ExportJob.h"

#include <QMetaObject>
#include <QSaveFile>
#include <sstream>

namespace {

// Rows between writes to the file and between reports of progress.
constexpr size_t RowsPerChunk = 2000;

}  // namespace

ExportJob::ExportJob(ExportSheet sheet, const QString& fileName, Format format, QObject* parent)
    : QObject(parent),
      m_Sheet(std::move(sheet)),
      m_FileName(fileName),
      m_Format(format),
      m_nRows(m_Sheet.m_Rows.size()) {}

ExportJob::~ExportJob() {
    m_bCancel = true;
    if (m_Thread.joinable()) m_Thread.join();
}

void ExportJob::Start() {
    if (!m_Thread.joinable()) m_Thread = std::thread([this] { Write(); });
}

void ExportJob::Write() {
    QSaveFile file(m_FileName);
    if (m_bCancel) {
        Tell(false, {});
        return;
    }
    if (!file.open(QIODevice::WriteOnly)) {
        Tell(false, QStringLiteral("Could not write %1: %2").arg(m_FileName, file.errorString()));
        return;
    }
    std::ostringstream out;
    bool failed = false;
    auto flush = [&] {
        const std::string bytes = out.str();
        out.str({});
        failed = failed || file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
                               static_cast<qint64>(bytes.size());
    };
    const ExportSheet::GoOn goOn = [&](size_t written) {
        if (written % RowsPerChunk != 0) return !m_bCancel;
        flush();
        QMetaObject::invokeMethod(
            this, [this, written] { emit progress(written, m_nRows); }, Qt::QueuedConnection);
        return !m_bCancel && !failed;
    };
    const bool whole =
        m_Format == Format::Json ? m_Sheet.WriteJson(out, goOn) : m_Sheet.WriteCsv(out, goOn);
    if (whole) flush();
    // 100,000 rows of cells are freed here, not on the UI thread.
    m_Sheet = ExportSheet();
    if (m_bCancel) {
        file.cancelWriting();
        Tell(false, {});
        return;
    }
    if (failed || !whole || !file.commit()) {
        Tell(false, QStringLiteral("Could not write %1: %2").arg(m_FileName, file.errorString()));
        return;
    }
    Tell(true, {});
}

void ExportJob::Tell(bool done, const QString& error) {
    QMetaObject::invokeMethod(
        this, [this, done, error] { emit finished(done, error); }, Qt::QueuedConnection);
}
