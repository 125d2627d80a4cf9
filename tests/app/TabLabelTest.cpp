// The label a session's tab shows: the server's name out of the document
// title, shortened to fit the tab.

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

#include "app/MainFrm.h"

TEST(TabLabelTest, KeepsWhatFollowsTheFirstDashAndTwoMoreCharacters) {
    EXPECT_EQ(CMainFrame::TabLabelText("Connected to Socks5 server -- proxy.example.net"),
              "proxy.example.net");
    EXPECT_EQ(CMainFrame::TabLabelText("Connected to Socks5 server -- a-b"), "a-b");
    // No dash, or a dash in front: the whole title.
    EXPECT_EQ(CMainFrame::TabLabelText("Disconnected from gate-2.example:6000"),
              "gate-2.example:6000");
    EXPECT_EQ(CMainFrame::TabLabelText("VGL1"), "VGL1");
    EXPECT_EQ(CMainFrame::TabLabelText("watch.vgl"), "watch.vgl");
    EXPECT_EQ(CMainFrame::TabLabelText("-x-y"), "-x-y");
    EXPECT_EQ(CMainFrame::TabLabelText(""), "");
    // Ending at the dash or within the two characters after it: nothing.
    EXPECT_EQ(CMainFrame::TabLabelText("abc-"), "");
    EXPECT_EQ(CMainFrame::TabLabelText("ab-c"), "");
    EXPECT_EQ(CMainFrame::TabLabelText("ab-cd"), "");
    EXPECT_EQ(CMainFrame::TabLabelText("ab-cde"), "e");
}

TEST(TabLabelTest, ShortensFourCharactersAtATimeDownToDots) {
    QFont font;
    font.setPixelSize(11);
    const QFontMetrics metrics(font);
    const QString label = "abcdefgh";

    EXPECT_EQ(CMainFrame::FitTabLabel(label, metrics, metrics.horizontalAdvance(label)), label);
    // Each step drops one more character before the dots; every wider label
    // would not fit, so the step that first fits is the one returned.
    for (const QString step : {"abcd...", "abc...", "ab...", "a...", "..."}) {
        EXPECT_EQ(CMainFrame::FitTabLabel(label, metrics, metrics.horizontalAdvance(step)), step);
    }
    // "..." is the shortest even when it doesn't fit; shorter labels stay.
    EXPECT_EQ(CMainFrame::FitTabLabel(label, metrics, 0), "...");
    EXPECT_EQ(CMainFrame::FitTabLabel("abc", metrics, 0), "abc");
    EXPECT_EQ(CMainFrame::FitTabLabel("", metrics, 0), "");
}
