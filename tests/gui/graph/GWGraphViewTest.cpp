#include <gtest/gtest.h>

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPrinter>
#include <QTemporaryDir>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "core/base/Trace.h"
#include "gui/framework/GWPrint.h"
#include "gui/graph/GWGraphView.h"
#include "gui/graph/GraphCtrl.h"

namespace {

using Point = std::map<std::string, uint64_t>;

ServiceRecord Record(const std::string& name, int32_t port, uint32_t color = 0,
                     int32_t style = LineSolid) {
    return ServiceRecord{name, 0, port, color, style};
}

class GWGraphViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTraceSink([this](const std::string& line) { m_Trace.push_back(line); });
    }
    void TearDown() override { SetTraceSink(nullptr); }

    // Points and subsets as the traffic graph sets them up.
    void Prepare(uint16_t points = 14) {
        m_View.SetPointCount(points);
        m_View.SetSubsets({Record("a", 1), Record("b", 2)});
    }
    void Append(uint64_t a, uint64_t b = 0) { m_View.AppendData(Point{{"a", a}, {"b", b}}); }
    double Top() const { return m_View.GetGraph()->YMax(); }
    float Newest(int subset) const {
        const GraphCtrl* graph = m_View.GetGraph();
        return graph->Value(subset, graph->PointCount() - 1);
    }

    GWGraphView m_View;
    std::vector<std::string> m_Trace;
};

}  // namespace

TEST_F(GWGraphViewTest, FirstAppendScansAndAllZeroGivesZeroTop) {
    Prepare();
    ASSERT_EQ(m_View.PeakHistory().size(), 15u);
    EXPECT_EQ(m_View.PeakIndex(), -1);
    EXPECT_DOUBLE_EQ(Top(), 100.0);  // the default until the first point

    Append(0, 0);
    EXPECT_EQ(m_View.PeakIndex(), 0);  // all equal: the newest wins
    EXPECT_DOUBLE_EQ(Top(), 0.0);

    // A peak that scrolls out with only zeros behind it brings the top back to 0.
    Append(1000);
    EXPECT_DOUBLE_EQ(Top(), 1100.0);
    for (int i = 0; i < 14; ++i) Append(0);
    EXPECT_EQ(m_View.PeakIndex(), 14);
    EXPECT_DOUBLE_EQ(Top(), 1100.0);
    Append(0);
    EXPECT_EQ(m_View.PeakIndex(), 0);
    EXPECT_DOUBLE_EQ(Top(), 0.0);
}

TEST_F(GWGraphViewTest, ValueUnderTheTopChangesNothingUntilTheNextScan) {
    Prepare(3);
    Append(1000);
    ASSERT_DOUBLE_EQ(Top(), 1100.0);

    Append(0, 1050);  // above top / 1.1 but under the top
    EXPECT_EQ(m_View.PeakIndex(), 1);
    EXPECT_DOUBLE_EQ(Top(), 1100.0);
    EXPECT_DOUBLE_EQ(m_View.PeakHistory()[0], 1050 * 1.1);

    // Once the 1000 leaves, the scan finds the 1050 with its headroom.
    Append(1);
    Append(1);
    EXPECT_EQ(m_View.PeakIndex(), 3);
    Append(1);
    EXPECT_EQ(m_View.PeakIndex(), 3);
    EXPECT_DOUBLE_EQ(Top(), 1050 * 1.1);

    // A value above the top raises it at once, with headroom.
    Append(2000);
    EXPECT_EQ(m_View.PeakIndex(), 0);
    EXPECT_DOUBLE_EQ(Top(), 2200.0);
}

TEST_F(GWGraphViewTest, EqualLargestEntriesGoToTheNewerPoint) {
    Prepare(3);
    Append(900);
    Append(500);
    Append(500);
    Append(100);
    ASSERT_EQ(m_View.PeakIndex(), 3);
    Append(50);  // the 900 leaves: entries 55, 110, 550, 550
    EXPECT_EQ(m_View.PeakIndex(), 2);
    EXPECT_DOUBLE_EQ(Top(), 550.0);
}

TEST_F(GWGraphViewTest, PeakStaysValidAtIndex13And14AndLeavesAfter) {
    Prepare(14);
    Append(1000);
    for (int i = 0; i < 13; ++i) Append(10);
    EXPECT_EQ(m_View.PeakIndex(), 13);
    Append(10);
    EXPECT_EQ(m_View.PeakIndex(), 14);
    EXPECT_DOUBLE_EQ(Top(), 1100.0);
    Append(10);
    EXPECT_EQ(m_View.PeakIndex(), 0);
    EXPECT_DOUBLE_EQ(Top(), 11.0);
}

TEST_F(GWGraphViewTest, LargeValuesArePlottedWholeNeverAsNegativeOrWrapped) {
    Prepare();
    const uint32_t largest = std::numeric_limits<uint32_t>::max();
    Append(5, largest);
    EXPECT_DOUBLE_EQ(Top(), 4294967295.0 * 1.1);
    EXPECT_FLOAT_EQ(Newest(1), 4294967295.0f);
    Append(largest, 7);
    EXPECT_EQ(m_View.PeakIndex(), 1);  // equal value: fits under the top
    EXPECT_FLOAT_EQ(Newest(0), 4294967295.0f);
    Append(7500000000u);  // more than 32 bits: plotted whole, the axis in G
    EXPECT_FLOAT_EQ(Newest(0), 7.5e9f);
    EXPECT_DOUBLE_EQ(Top(), 7.5e9 * 1.1);
    EXPECT_EQ(GraphCtrl::YTickLabels(0, Top()), QStringList({"0", "2G", "4G", "6G", "8G"}));
}

TEST_F(GWGraphViewTest, SetPointCountKeepsEntriesAndDropsAPeakOutsideTheWindow) {
    Prepare(14);
    Append(1000);
    for (int i = 0; i < 12; ++i) Append(1);
    ASSERT_EQ(m_View.PeakIndex(), 12);
    m_View.SetPointCount(12);
    EXPECT_EQ(m_View.PeakIndex(), 12);  // still inside: count + 1 entries
    m_View.SetPointCount(11);
    EXPECT_EQ(m_View.PeakIndex(), -1);
    EXPECT_EQ(m_View.PeakHistory().size(), 12u);
    EXPECT_DOUBLE_EQ(m_View.PeakHistory()[0], 1.1);
}

TEST_F(GWGraphViewTest, SubsetLabelsColoursAndStyles) {
    m_View.SetPointCount(14);
    m_View.SetSubsets({Record("telnet", 23, 0x0000FF, LineDot), Record("Others", 0, 0, LineDot),
                       Record("MyOthers", 9000, 0xFF0000, LineSolid8)});
    const GraphCtrl* graph = m_View.GetGraph();
    ASSERT_EQ(graph->SubsetCount(), 3);
    EXPECT_EQ(graph->SubsetLabel(0), "telnet(23)");
    EXPECT_EQ(graph->SubsetLabel(1), "Others");
    EXPECT_EQ(graph->SubsetLabel(2), "MyOthers(9000)");
    EXPECT_EQ(graph->SubsetColor(0), QColor(255, 0, 0));  // red in the low byte
    EXPECT_EQ(graph->SubsetColor(1), QColor(0, 0, 0));
    EXPECT_EQ(graph->SubsetColor(2), QColor(0, 0, 255));
    EXPECT_EQ(graph->SubsetLineStyle(0), LineDot);
    EXPECT_EQ(graph->SubsetLineStyle(2), LineSolid8);
    EXPECT_EQ(m_View.SubsetMap(),
              (std::map<std::string, int32_t>{{"telnet", 0}, {"Others", 1}, {"MyOthers", 2}}));
}

TEST_F(GWGraphViewTest, EachLineKeepsTheHistoryOfItsServiceWhenTheServicesChange) {
    m_View.SetPointCount(3);
    m_View.SetSubsets(
        {Record("archie", 1525), Record("www", 80), Record("telnet", 23), Record("Others", 0)});
    m_View.AppendData(Point{{"archie", 500}, {"www", 7}, {"telnet", 3}, {"Others", 1}});
    m_View.AppendData(Point{{"archie", 600}, {"www", 8}, {"telnet", 4}, {"Others", 2}});

    // archie unchecked, whois added: every line moves up one place.
    m_View.SetSubsets(
        {Record("www", 80), Record("telnet", 23), Record("whois", 43), Record("Others", 0)});
    const GraphCtrl* graph = m_View.GetGraph();
    ASSERT_EQ(graph->SubsetCount(), 4);
    const std::vector<std::vector<float>> expected = {{0, 7, 8}, {0, 3, 4}, {0, 0, 0}, {0, 1, 2}};
    for (int s = 0; s < 4; ++s) {
        for (int p = 0; p < 3; ++p) EXPECT_FLOAT_EQ(graph->Value(s, p), expected[s][p]) << s << p;
    }
    // A service the next point leaves out repeats its own last value, not archie's.
    m_View.AppendData(Point{{"www", 9}});
    EXPECT_FLOAT_EQ(Newest(1), 4.0f);
    EXPECT_FLOAT_EQ(Newest(2), 0.0f);
    EXPECT_DOUBLE_EQ(Top(), 9 * 1.1);  // archie's 600 went with its line
}

TEST_F(GWGraphViewTest, NameGivenTwiceShowsTwiceButFeedsOnlyTheLater) {
    m_View.SetPointCount(14);
    m_View.SetSubsets({Record("ftp", 21, 0x0000FF), Record("ftp", 2121, 0xFF0000)});
    const GraphCtrl* graph = m_View.GetGraph();
    EXPECT_EQ(graph->SubsetLabel(0), "ftp(21)");
    EXPECT_EQ(graph->SubsetLabel(1), "ftp(2121)");
    EXPECT_NE(graph->SubsetColor(0), graph->SubsetColor(1));
    m_View.AppendData(Point{{"ftp", 500}});
    EXPECT_FLOAT_EQ(Newest(0), 0.0f);
    EXPECT_FLOAT_EQ(Newest(1), 500.0f);
}

TEST_F(GWGraphViewTest, UnknownNameIsTracedAndDroppedOthersKeepTheirValue) {
    Prepare();
    Append(40, 9);
    m_Trace.clear();
    m_View.AppendData(Point{{"gopher", 70000}, {"b", 5}});
    ASSERT_EQ(m_Trace.size(), 1u);
    EXPECT_EQ(
        m_Trace[0].rfind("Couldn't find subset in m_SubsetMap in GWGraphView.cpp at line ", 0), 0u);
    EXPECT_FLOAT_EQ(Newest(0), 40.0f);  // not named: repeats its last value
    EXPECT_FLOAT_EQ(Newest(1), 5.0f);
    EXPECT_DOUBLE_EQ(Top(), 44.0);  // the unknown value never counted
}

TEST_F(GWGraphViewTest, AppendBeforeSetUpIsSkipped) {
    m_View.AppendData(Point{{"a", 10}});
    m_View.SetPointCount(14);
    m_View.AppendData(Point{{"a", 10}});  // points but no subsets yet
    EXPECT_EQ(m_View.PeakIndex(), -1);
    EXPECT_EQ(m_View.PeakHistory(), std::vector<double>(15, 0.0));

    GWGraphView subsetsOnly;
    subsetsOnly.SetSubsets({Record("a", 1)});
    subsetsOnly.AppendData(Point{{"a", 10}});
    EXPECT_TRUE(subsetsOnly.PeakHistory().empty());
    EXPECT_TRUE(m_Trace.empty());
}

TEST_F(GWGraphViewTest, ClearHistoryPushesZerosAndKeepsThePeakState) {
    Prepare();
    Append(300, 700);
    const std::vector<double> history = m_View.PeakHistory();
    m_View.ClearHistory();
    const GraphCtrl* graph = m_View.GetGraph();
    for (int p = 0; p < 14; ++p) {
        EXPECT_FLOAT_EQ(graph->Value(0, p), 0.0f);
        EXPECT_FLOAT_EQ(graph->Value(1, p), 0.0f);
    }
    EXPECT_EQ(m_View.PeakHistory(), history);
    EXPECT_EQ(m_View.PeakIndex(), 0);
    EXPECT_DOUBLE_EQ(Top(), 770.0);
    m_View.AppendData(Point{{"a", 1}});  // the values array was not touched: "b" repeats 700
    EXPECT_FLOAT_EQ(Newest(1), 700.0f);
}

TEST_F(GWGraphViewTest, ControlFillsTheViewAndTakesTheFocus) {
    m_View.resize(640, 300);
    m_View.show();
    EXPECT_EQ(m_View.GetGraph()->geometry(), QRect(0, 0, 640, 300));
    m_View.setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(m_View.focusWidget(), m_View.GetGraph());
    EXPECT_EQ(m_View.focusPolicy(), Qt::NoFocus);  // one stop of the Tab key, the control's
}

TEST_F(GWGraphViewTest, CopyPutsAnImageOfTheExtentsProportionsOnTheClipboard) {
    Prepare();
    Append(300, 700);
    QGuiApplication::clipboard()->clear();
    m_View.CopyToClipboard();
    const QImage image = QGuiApplication::clipboard()->image();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width() * 8000, image.height() * 14000);
    EXPECT_GE(image.width(), 700);  // sharp enough to paste into a document
}

TEST_F(GWGraphViewTest, PrintsOnePageToPdf) {
    Prepare();
    Append(300, 700);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("graph.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    ASSERT_TRUE(GWPrintViewTo(m_View, printer));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray pdf = file.readAll();
    EXPECT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_EQ(pdf.count("/Type /Page\n") + pdf.count("/Type /Page "), 1);
}
