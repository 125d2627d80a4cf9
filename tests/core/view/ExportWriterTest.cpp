#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <sstream>

#include "core/view/ExportWriter.h"

namespace export_writer_test {

// A sink in memory whose first write can be held until the test lets it go.
struct Record {
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::string m_Bytes;
    bool m_bHold = false;
    bool m_bWriting = false;  // the first write has come and is held
    bool m_bCommitted = false;
    bool m_bDiscarded = false;
    bool m_bEnded = false;
    bool m_bDone = false;
    std::string m_Error;
};

struct HeldSink : ExportSink {
    explicit HeldSink(Record& record) : m_Record(record) {}
    bool Open() override { return true; }
    bool Write(const std::string& bytes) override {
        std::unique_lock<std::mutex> lock(m_Record.m_Mutex);
        m_Record.m_bWriting = true;
        m_Record.m_Changed.notify_all();
        m_Record.m_Changed.wait(lock, [this] { return !m_Record.m_bHold; });
        m_Record.m_Bytes += bytes;
        return true;
    }
    bool Commit() override {
        std::lock_guard<std::mutex> lock(m_Record.m_Mutex);
        m_Record.m_bCommitted = true;
        return true;
    }
    void Discard() override {
        std::lock_guard<std::mutex> lock(m_Record.m_Mutex);
        m_Record.m_bDiscarded = true;
    }
    std::string Error() const override { return {}; }
    Record& m_Record;
};

ExportSheet Sheet(size_t rows) {
    ExportSheet sheet;
    sheet.m_Titles = {"User"};
    sheet.m_Keys = {"user"};
    for (size_t row = 0; row < rows; ++row) {
        ExportCell cell;
        cell.m_Kind = ExportCell::Text;
        cell.m_Text = "user" + std::to_string(row);
        sheet.m_Rows.push_back({cell});
    }
    return sheet;
}

// A whole export commits the bytes the sheet writes; one cancelled from
// another thread while it writes discards them and tells no failure.
TEST(ExportWriterTest, CommitsWholeOrDiscardsWhenCancelledMidWay) {
    for (bool cancel : {false, true}) {
        Record record;
        record.m_bHold = cancel;
        std::ostringstream expected;
        Sheet(5000).WriteCsv(expected);
        ExportWriter writer(
            Sheet(5000), std::make_unique<HeldSink>(record), ExportWriter::Format::Csv, {},
            [&record](bool done, const std::string& error) {
                std::lock_guard<std::mutex> lock(record.m_Mutex);
                record.m_bEnded = true;
                record.m_bDone = done;
                record.m_Error = error;
                record.m_Changed.notify_all();
            });
        writer.Start();
        std::unique_lock<std::mutex> lock(record.m_Mutex);
        if (cancel) {
            record.m_Changed.wait(lock, [&record] { return record.m_bWriting; });
            writer.Cancel();
            record.m_bHold = false;
            record.m_Changed.notify_all();
        }
        record.m_Changed.wait(lock, [&record] { return record.m_bEnded; });
        EXPECT_EQ(record.m_bDone, !cancel);
        EXPECT_EQ(record.m_bCommitted, !cancel);
        EXPECT_EQ(record.m_bDiscarded, cancel);
        EXPECT_EQ(record.m_Error, "");
        if (!cancel) {
            EXPECT_EQ(record.m_Bytes, expected.str());
        }
    }
}

}  // namespace export_writer_test
