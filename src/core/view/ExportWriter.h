#pragma once
// A sheet written to a file on a thread of its own, so that the window goes
// on while 100,000 rows are written. The file is the sink's: it is kept only
// once it is complete (Commit), and a cancelled or failed export discards
// what was written, leaving whatever was there before.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/view/ExportSheet.h"

// Where the bytes go; used on the writer's thread only.
class ExportSink {
public:
    virtual ~ExportSink() = default;
    virtual bool Open() = 0;
    virtual bool Write(const std::string& bytes) = 0;
    virtual bool Commit() = 0;   // the file is complete
    virtual void Discard() = 0;  // nothing of it stays
    virtual std::string Error() const = 0;
};

class ExportWriter {
public:
    enum class Format { Csv, Json };
    // Now and then as rows are written, and once at the end; on the writer's thread.
    using Progress = std::function<void(size_t written, size_t rows)>;
    // done: the file is complete; else error says why (empty when cancelled).
    using Finished = std::function<void(bool done, const std::string& error)>;

    ExportWriter(ExportSheet sheet, std::unique_ptr<ExportSink> sink, Format format,
                 Progress progress, Finished finished);
    // Cancels what is left and waits for the thread.
    ~ExportWriter();
    ExportWriter(const ExportWriter&) = delete;
    ExportWriter& operator=(const ExportWriter&) = delete;

    void Start();
    void Cancel() { m_bCancel = true; }

private:
    void Write();

    ExportSheet m_Sheet;
    std::unique_ptr<ExportSink> m_pSink;
    Format m_Format;
    Progress m_Progress;
    Finished m_Finished;
    size_t m_nRows;
    std::atomic<bool> m_bCancel{false};
    std::thread m_Thread;
};
