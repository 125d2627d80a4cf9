#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "gui/graph/GraphCtrl.h"
#include "gui/graph/ServiceRecord.h"

namespace {

void AppendValues(GraphCtrl& graph, std::vector<float> values) {
    graph.AppendPoint(values);
}

}  // namespace

TEST(GraphCtrl, PointsAndLabelsScrollOldestFirst) {
    GraphCtrl graph;
    graph.SetSubsetCount(2);
    graph.SetPointCount(3);
    AppendValues(graph, {1, 10});
    AppendValues(graph, {2, 20});
    AppendValues(graph, {3});  // a missing value counts 0
    AppendValues(graph, {4, 40});
    EXPECT_EQ((std::vector<float>{graph.Value(0, 0), graph.Value(0, 1), graph.Value(0, 2)}),
              (std::vector<float>{2, 3, 4}));
    EXPECT_EQ((std::vector<float>{graph.Value(1, 0), graph.Value(1, 1), graph.Value(1, 2)}),
              (std::vector<float>{20, 0, 40}));

    for (const char* label : {"a", "b", "c", "d"}) graph.AppendPointLabel(label);
    EXPECT_EQ(graph.PointLabel(0), "b");
    EXPECT_EQ(graph.PointLabel(2), "d");
    graph.SetPointLabel(2, " ");
    EXPECT_EQ(graph.PointLabel(2), " ");

    // Growing keeps the newest points at the new end; shrinking drops the oldest.
    graph.SetPointCount(4);
    EXPECT_FLOAT_EQ(graph.Value(0, 0), 0.0f);
    EXPECT_FLOAT_EQ(graph.Value(0, 3), 4.0f);
    EXPECT_EQ(graph.PointLabel(1), "b");
    graph.SetPointCount(2);
    EXPECT_FLOAT_EQ(graph.Value(0, 0), 3.0f);
    EXPECT_FLOAT_EQ(graph.Value(1, 1), 40.0f);
    // Another subset count keeps the data of the subsets that remain.
    graph.SetSubsetCount(3);
    EXPECT_FLOAT_EQ(graph.Value(1, 1), 40.0f);
    EXPECT_FLOAT_EQ(graph.Value(2, 1), 0.0f);
}

TEST(GraphCtrl, YTicksAreRoundAndReadable) {
    EXPECT_EQ(GraphCtrl::YTickLabels(0, 100), QStringList({"0", "20", "40", "60", "80", "100"}));
    EXPECT_EQ(GraphCtrl::YTickLabels(0, 1.32e6, 8),
              QStringList({"0", "0.2M", "0.4M", "0.6M", "0.8M", "1.0M", "1.2M"}));
    EXPECT_EQ(GraphCtrl::YTickLabels(0, 25000, 5),
              QStringList({"0", "5K", "10K", "15K", "20K", "25K"}));
    EXPECT_EQ(GraphCtrl::YTickLabels(0, 4294967295.0 * 1.1),
              QStringList({"0", "1G", "2G", "3G", "4G"}));
    EXPECT_EQ(GraphCtrl::YTickLabels(0, 1.1),
              QStringList({"0", "0.2", "0.4", "0.6", "0.8", "1.0"}));
    // An empty range (all points 0) still gets an axis.
    EXPECT_EQ(GraphCtrl::YTickLabels(0, 0).front(), "0");
    EXPECT_GE(GraphCtrl::YTickLabels(0, 0).size(), 2);

    // Whatever the range, neighbouring ticks never read the same.
    for (double top : {3.3, 77.0, 1234.0, 9999.0, 10001.0, 123456.0, 999999.0, 2.5e6, 7.7e8}) {
        const QStringList labels = GraphCtrl::YTickLabels(0, top);
        EXPECT_EQ(QSet<QString>(labels.begin(), labels.end()).size(), labels.size()) << top;
        EXPECT_LE(labels.size(), 7) << top;
    }
}

TEST(GraphCtrl, PictureShowsEachSubsetInItsColour) {
    EXPECT_EQ(GraphCtrl::RgbValueFromColor(QColor(80, 90, 100)), 0x645A50u);  // red low
    GraphCtrl graph;
    graph.SetSubsetCount(2);
    graph.SetPointCount(4);
    graph.SetSubsetColor(0, QColor(255, 0, 0));
    graph.SetSubsetColor(1, QColor(0, 0, 255));
    graph.SetSubsetLineStyle(0, LineSolid8);
    graph.SetSubsetLineStyle(1, LineSolid8);
    graph.ShowLegend(false);  // only the lines may carry these colours
    graph.SetYMax(100);
    AppendValues(graph, {20, 70});
    AppendValues(graph, {25, 75});
    const QImage image = graph.RenderImage(QSize(14000, 8000));
    ASSERT_EQ(image.size(), QSize(1400, 800));
    int red = 0;
    int blue = 0;
    int redAbove = 0;  // red drawn higher than the blue line would be wrong
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (pixel == qRgb(255, 0, 0)) {
                ++red;
                if (y < 400) ++redAbove;
            }
            if (pixel == qRgb(0, 0, 255)) ++blue;
        }
    }
    EXPECT_GT(red, 1000);
    EXPECT_GT(blue, 1000);
    EXPECT_EQ(redAbove, 0);
}

// In a dark palette the screen follows it: background, plot area, axes and
// texts, and a black line turns light. The light palette, printouts and
// pictures keep the graph's own colours.
TEST(GraphCtrl, ADarkPaletteRepaintsTheScreenOnlyInItsColours) {
    GraphCtrl graph;
    graph.SetBackgroundColor(QColor(192, 192, 192));
    graph.SetSubsetCount(1);
    graph.SetPointCount(4);
    graph.SetSubsetColor(0, Qt::black);  // as "Others" is
    graph.SetSubsetLineStyle(0, LineSolid8);
    graph.SetYMax(100);
    AppendValues(graph, {50});
    AppendValues(graph, {50});
    graph.resize(560, 320);
    auto count = [](const QImage& image, QRgb wanted) {
        int found = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) found += image.pixel(x, y) == wanted;
        return found;
    };
    const QImage light = graph.grab().toImage();
    EXPECT_EQ(light.pixel(1, 1), qRgb(192, 192, 192));
    EXPECT_GT(count(light, qRgb(0, 0, 0)), 1000);

    QPalette dark;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(20, 20, 20));
    graph.setPalette(dark);
    const QImage screen = graph.grab().toImage();
    EXPECT_EQ(screen.pixel(1, 1), qRgb(40, 40, 40));
    EXPECT_GT(count(screen, qRgb(20, 20, 20)), 10000);   // the plot area
    EXPECT_GT(count(screen, qRgb(230, 230, 230)), 500);  // axes, frame and texts
    EXPECT_EQ(count(screen, qRgb(0, 0, 0)), 0);          // the black line too
    EXPECT_EQ(graph.RenderImage(QSize(5600, 3200)).pixel(1, 1), qRgb(192, 192, 192));
}

TEST(GraphCtrl, YAxisLabelBreaksOntoASecondLineBeforeItIsShortened) {
    GraphCtrl graph;
    graph.SetTitle("Real Time Historical Log");
    graph.SetXAxisLabel("Time (seconds elapsed)");
    graph.SetYAxisLabel("Network traffic (delta bytes)");
    graph.SetSubsetCount(6);
    graph.SetPointCount(14);
    graph.resize(700, 600);
    EXPECT_EQ(graph.YAxisLabelLines(), QStringList{"Network traffic (delta bytes)"});
    // The graph pane of a maximised window at scale factor 2 is about this low.
    graph.resize(700, 200);
    EXPECT_EQ(graph.YAxisLabelLines(), QStringList({"Network traffic", "(delta bytes)"}));
    graph.resize(700, 120);  // too low for either line: both shortened, never dropped
    const QStringList cut = graph.YAxisLabelLines();
    ASSERT_EQ(cut.size(), 2);
    EXPECT_TRUE(cut[0].startsWith("Net") && cut[0].endsWith(QChar(0x2026))) << cut[0].toStdString();
}

// The graph pane of a window at its minimum size is low: the legend must
// then give way rather than lie over the plot.
TEST(GraphCtrl, TheLegendNeverLiesOverThePlot) {
    GraphCtrl graph;
    graph.SetTitle("Real Time Historical Log");
    graph.SetXAxisLabel("Time (seconds elapsed)");
    graph.SetYAxisLabel("Network traffic (delta bytes)");
    graph.SetSubsetCount(6);
    for (int s = 0; s < 6; ++s) graph.SetSubsetLabel(s, QStringLiteral("service-%1(80%1)").arg(s));
    graph.SetPointCount(14);
    graph.ShowLegend(true);
    graph.resize(700, 400);
    EXPECT_FALSE(graph.LegendRect().isEmpty());
    for (const QSize size : {QSize(700, 400), QSize(380, 170), QSize(160, 120), QSize(300, 90)}) {
        graph.resize(size);
        EXPECT_FALSE(graph.LegendRect().intersects(graph.PlotFrame()))
            << size.width() << "x" << size.height();
    }
}

// A click picks the point under it and the line it hit; a drag picks the
// points its band covers and no line.
TEST(GraphCtrl, AClickOrADragChoosesPointsAndTheLineHit) {
    GraphCtrl graph;
    graph.SetSubsetCount(2);
    graph.SetPointCount(6);
    graph.SetYMax(100);
    for (float value : {10.0f, 20.0f, 30.0f, 40.0f, 50.0f, 60.0f}) {
        AppendValues(graph, {value, 90.0f});
    }
    graph.resize(560, 320);
    graph.show();
    QSignalSpy chosen(&graph, &GraphCtrl::pointsChosen);
    auto pixel = [](QPointF at) { return at.toPoint(); };

    QTest::mouseClick(&graph, Qt::LeftButton, {}, pixel(graph.PointPosition(1, 3)));
    QTest::mouseClick(&graph, Qt::LeftButton, {}, pixel(graph.PointPosition(0, 2)) + QPoint(2, 1));
    // Half-way between the lines, far from both.
    QTest::mouseClick(&graph, Qt::LeftButton, {}, pixel(graph.PointPosition(0, 5)) - QPoint(0, 40));

    QTest::mousePress(&graph, Qt::LeftButton, {}, pixel(graph.PointPosition(0, 1)) - QPoint(5, 0));
    QTest::mouseMove(&graph, pixel(graph.PointPosition(0, 2)));
    QTest::mouseMove(&graph, pixel(graph.PointPosition(0, 4)) + QPoint(5, 0));
    const QImage band = graph.grab().toImage();
    QTest::mouseRelease(&graph, Qt::LeftButton, {},
                        pixel(graph.PointPosition(0, 4)) + QPoint(5, 0));

    ASSERT_EQ(chosen.size(), 4);
    auto args = [&](int i) {
        return std::vector<int>{chosen[i][0].toInt(), chosen[i][1].toInt(), chosen[i][2].toInt()};
    };
    EXPECT_EQ(args(0), (std::vector<int>{3, 3, 1}));
    EXPECT_EQ(args(1), (std::vector<int>{2, 2, 0}));
    EXPECT_EQ(args(2), (std::vector<int>{5, 5, -1}));
    EXPECT_EQ(args(3), (std::vector<int>{1, 4, -1}));
    // The band showed while dragging, and goes with the release.
    const QPoint inside = pixel(graph.PointPosition(0, 3)) - QPoint(0, 20);
    EXPECT_NE(band.pixel(inside), qRgb(255, 255, 255));
    EXPECT_EQ(graph.grab().toImage().pixel(inside), qRgb(255, 255, 255));
}
