// Export files read back by Python's own csv and json modules.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ViewFixture.h"
#include "core/view/ConnectionGroups.h"
#include "core/view/ExportSheet.h"
#include "support/TempFolder.h"

namespace {

const std::string HardName = "Smith, \"Jo\"\nÅsa Müller";  // comma, quote, line break, non-ASCII

// Python checks what it read against what was meant; the script's exit status
// is the verdict and its output says what differed.
const char* const ReadBack = R"(
import csv, json, sys
kind, path, name = sys.argv[1], sys.argv[2], open(sys.argv[3], encoding='utf-8').read()
if kind == 'csv':
    rows = list(csv.reader(open(path, newline='', encoding='utf-8')))
    want = [['Source', 'User Name', 'Start Time', 'In Traffic', 'Total Traffic'],
            ['10.0.0.1', name, '2025-12-06T05:46:40Z', '5000000000', '5000000100'],
            ['10.0.0.2', 'plain', '2025-12-06T05:46:40Z', '7', '7']]
elif kind == 'json':
    rows = json.load(open(path, encoding='utf-8'))
    want = [{'user': name, 'active': 1, 'failed': 0, 'bytes_in': 1, 'bytes_out': 2,
             'bytes_total': 3, 'rate_in': None, 'rate_out': None}]
else:
    rows = json.load(open(path, encoding='utf-8'))
    want = [{'source': '10.0.0.1', 'user': 'plain', 'destination': '93.184.216.34',
             'bytes_in': 7, 'result': '', 'source_port': 40000, 'destination_port': 443,
             'end_time': '2025-12-06T05:48:20Z'}]
if rows != want:
    print('read', rows, '\nwanted', want)
    sys.exit(1)
)";

class ExportSheetTest : public ::testing::Test, protected ViewFixture {
protected:
    const TempFolder m_Folder;
    const std::filesystem::path m_Dir{m_Folder.Path()};

    int ReadWithPython(const std::string& kind, const ExportSheet& sheet) {
        const auto file = m_Dir / ("rows." + kind);  // kind: csv, json or json-connections
        {
            std::ofstream out(file, std::ios::binary);
            kind == "csv" ? sheet.WriteCsv(out) : sheet.WriteJson(out);
        }
        std::ofstream(m_Dir / "name", std::ios::binary) << HardName;
        std::ofstream(m_Dir / "check.py") << ReadBack;
        const std::string command = "python3 " + (m_Dir / "check.py").string() + " " + kind + " " +
                                    file.string() + " " + (m_Dir / "name").string();
        return std::system(command.c_str());
    }
};

TEST_F(ExportSheetTest, CsvAndJsonReadBackWithAwkwardNamesAndRawNumbers) {
    EntryObj& big =
        const_cast<EntryObj&>(*Add({.m_Id = 1, .m_User = HardName, .m_In = 1, .m_Out = 100}));
    big.m_TotalIn = 5000000000;  // past 32 bits, as a long download reaches
    big.m_LastTotal = big.m_TotalIn + big.m_TotalOut;
    Add({.m_Id = 2, .m_User = "plain", .m_Source = "10.0.0.2", .m_In = 7});
    // Source, User Name, Start Time, In Traffic, Total Traffic.
    const ExportSheet connections =
        ExportSheet::FromConnections(m_View, {0, 2, 4, 6, 8}, 1, 1765000100);
    EXPECT_EQ(ReadWithPython("csv", connections), 0);

    m_View.clear();
    m_Entries.clear();
    Add({.m_Id = 3, .m_User = HardName, .m_In = 1, .m_Out = 2});
    ConnectionGroups groups;
    groups.Build(GroupBy::User, m_View);
    EXPECT_EQ(ReadWithPython("json", ExportSheet::FromGroups(groups)), 0);

    // JSON names stay as they are and carry the ports and the end, as the proxy logs them.
    m_View.clear();
    m_Entries.clear();
    Add({.m_Id = 4, .m_User = "plain", .m_In = 7, .m_bClosed = true});
    EntryObj& closed = const_cast<EntryObj&>(*m_View[0]);
    closed.m_Source.m_Port = 40000;
    closed.m_Dest.m_Port = 443;
    closed.m_EndTime = 1765000100;
    EXPECT_EQ(ReadWithPython("json-connections",
                             ExportSheet::FromConnections(m_View, {0, 2, 1, 6, 11}, 1, 1765000200)),
              0);
}

}  // namespace
