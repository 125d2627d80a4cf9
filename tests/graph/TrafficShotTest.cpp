// A graph view set up as the traffic graph of a session is, fed 14 polls of
// made-up traffic. The picture is checked for what a user must be able to
// see, and saved when VGL_SHOT_DIR names a folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <map>
#include <string>
#include <vector>

#include "graph/GWGraphView.h"
#include "graph/GraphCtrl.h"

namespace {

std::vector<ServiceRecord> DefaultServices() {
    return {
        {"archie", 0, 1525, 0x00FFFF, LineSolid}, {"www", 0, 80, 0xFF0000, LineSolid4},
        {"telnet", 0, 23, 0x0000FF, LineDot},     {"ftp-data", 0, 20, 0x00FF00, LineDashDotDot},
        {"ftp", 0, 21, 0x505050, LineDash},       {"Others", 0, 0, 0x000000, LineDot},
    };
}

void SetUpLikeTrafficGraph(GWGraphView& view) {
    view.ApplyDefaults();
    view.SetTitles("Real Time Historical Log", "");
    view.SetYAxisLabel("Network traffic (delta bytes)");
    view.SetXAxisLabel("Time (seconds elapsed)");
    view.SetPointCount(14);
    view.SetYMin(0.0);
    view.SetYMax(100.0);
    for (int k = 0; k < 14; ++k) view.AppendPointLabel(QString::number(k * 15));
    view.RefreshGraph();
    view.SetSubsets(DefaultServices());
    view.ClearHistory();
    for (int k = 13; k >= 0; --k) view.AppendPointLabel(QString::number(k * 60));
    view.RefreshGraph();
}

void FeedVariedTraffic(GWGraphView& view) {
    const uint32_t www[] = {120000, 180500, 95000,  240000, 310000, 150000, 90000,
                            60000,  220000, 380000, 275000, 130000, 170000, 205000};
    const uint32_t ftpData[] = {0,      0,     850000, 1200000, 40000, 0,      0,
                                610000, 90000, 0,      0,       0,     730000, 20000};
    for (int i = 0; i < 14; ++i) {
        std::map<std::string, uint64_t> point{
            {"www", www[i]},
            {"ftp-data", ftpData[i]},
            {"ftp", static_cast<uint32_t>(1500 + (i % 4) * 900)},
            {"telnet", static_cast<uint32_t>(400 + (i * 7919) % 3000)},
            {"archie", static_cast<uint32_t>(i % 5 == 0 ? 52000 : 0)},
            {"Others", static_cast<uint32_t>(35000 + (i * 104729) % 90000)},
        };
        view.AppendData(point);
    }
}

}  // namespace

TEST(TrafficShot, GraphSetUpLikeTheTrafficGraphShowsEverySubset) {
    GWGraphView view;
    view.resize(900, 380);
    SetUpLikeTrafficGraph(view);
    FeedVariedTraffic(view);
    const QImage image = view.grab().toImage();
    const QString folder = qEnvironmentVariable("VGL_SHOT_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        image.save(folder + "/graph.png");
        view.GetGraph()->RenderImage(QSize(14000, 8000)).save(folder + "/graph-clipboard.png");
    }
    ASSERT_EQ(image.size(), QSize(900, 380));
    // The top follows the ftp-data burst of 1.2M with its headroom.
    EXPECT_DOUBLE_EQ(view.GetGraph()->YMax(), 1200000 * 1.1);
    // Every subset's colour is on screen (lines or legend), the black of
    // "Others" aside since the texts are black too.
    for (const auto& record : DefaultServices()) {
        if (record.m_Name == "Others") continue;
        const QRgb wanted = GraphCtrl::ColorFromRgbValue(record.m_Color).rgb();
        int found = 0;
        for (int y = 0; y < image.height() && found == 0; ++y) {
            for (int x = 0; x < image.width(); ++x) found += image.pixel(x, y) == wanted ? 1 : 0;
        }
        EXPECT_GT(found, 0) << record.m_Name;
    }
}
