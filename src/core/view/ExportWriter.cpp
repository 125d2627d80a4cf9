#include "core/view/ExportWriter.h"

#include <sstream>

namespace {

// Rows between writes to the sink and between reports of progress.
constexpr size_t RowsPerChunk = 2000;

}  // namespace

ExportWriter::ExportWriter(ExportSheet sheet, std::unique_ptr<ExportSink> sink, Format format,
                           Progress progress, Finished finished)
    : m_Sheet(std::move(sheet)),
      m_pSink(std::move(sink)),
      m_Format(format),
      m_Progress(std::move(progress)),
      m_Finished(std::move(finished)),
      m_nRows(m_Sheet.m_Rows.size()) {}

ExportWriter::~ExportWriter() {
    m_bCancel = true;
    if (m_Thread.joinable()) m_Thread.join();
}

void ExportWriter::Start() {
    if (!m_Thread.joinable()) m_Thread = std::thread([this] { Write(); });
}

void ExportWriter::Write() {
    if (m_bCancel) {
        m_Finished(false, {});
        return;
    }
    if (!m_pSink->Open()) {
        m_Finished(false, m_pSink->Error());
        return;
    }
    std::ostringstream out;
    bool failed = false;
    auto flush = [&] {
        failed = failed || !m_pSink->Write(out.str());
        out.str({});
    };
    const ExportSheet::GoOn goOn = [&](size_t written) {
        if (written % RowsPerChunk != 0) return !m_bCancel;
        flush();
        if (m_Progress) m_Progress(written, m_nRows);
        return !m_bCancel && !failed;
    };
    const bool whole =
        m_Format == Format::Json ? m_Sheet.WriteJson(out, goOn) : m_Sheet.WriteCsv(out, goOn);
    if (whole) flush();
    // 100,000 rows of cells are freed here, not on the thread that asked.
    m_Sheet = ExportSheet();
    if (m_bCancel) {
        m_pSink->Discard();
        m_Finished(false, {});
        return;
    }
    if (failed || !whole || !m_pSink->Commit()) {
        m_pSink->Discard();
        m_Finished(false, m_pSink->Error());
        return;
    }
    m_Finished(true, {});
}
