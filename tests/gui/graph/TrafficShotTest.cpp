// The traffic graph of a session, set up by its own first update, fed 14 polls
// of made-up traffic with one burst past 4 GiB. The picture is checked for what
// a user must be able to see, and saved when VGL_SHOT_DIR names a folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <map>
#include <string>
#include <vector>

#include "gui/graph/GraphCtrl.h"
#include "gui/graph/GraphView.h"
#include "gui/session/CVGLDoc.h"

namespace {

void FeedVariedTraffic(GraphView& view) {
    const uint32_t www[] = {120000, 180500, 95000,  240000, 310000, 150000, 90000,
                            60000,  220000, 380000, 275000, 130000, 170000, 205000};
    const uint64_t ftpData[] = {0,      0,          850000, 1200000, 40000, 0,      0,
                                610000, 6000000000, 0,      0,       0,     730000, 20000};
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

TEST(TrafficShot, TrafficGraphShowsEverySubsetAndGigabytesWhole) {
    CVGLDoc document;
    GraphView view;
    document.AddView(&view);
    view.resize(900, 380);
    view.OnInitialUpdate();
    view.ClearHistory();  // what a connect does
    view.SetTimeLabels(60);
    FeedVariedTraffic(view);
    const QImage image = view.grab().toImage();
    const QString folder = qEnvironmentVariable("VGL_SHOT_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        image.save(folder + "/graph.png");
        view.GetGraph()->RenderImage(QSize(14000, 8000)).save(folder + "/graph-clipboard.png");
    }
    ASSERT_EQ(image.size(), QSize(900, 380));
    // The top follows the ftp-data burst of 6 GB with its headroom.
    EXPECT_DOUBLE_EQ(view.GetGraph()->YMax(), 6000000000.0 * 1.1);
    // Every subset's colour is on screen (lines or legend), the black of
    // "Others" aside since the texts are black too.
    const GraphCtrl* graph = view.GetGraph();
    ASSERT_EQ(graph->SubsetCount(), 6);
    for (int s = 0; s < graph->SubsetCount(); ++s) {
        if (graph->SubsetLabel(s) == "Others") continue;
        const QRgb wanted = graph->SubsetColor(s).rgb();
        int found = 0;
        for (int y = 0; y < image.height() && found == 0; ++y) {
            for (int x = 0; x < image.width(); ++x) found += image.pixel(x, y) == wanted ? 1 : 0;
        }
        EXPECT_GT(found, 0) << graph->SubsetLabel(s).toStdString();
    }
    document.RemoveView(&view);
}
