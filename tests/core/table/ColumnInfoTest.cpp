#include <gtest/gtest.h>

#include "core/table/ColumnInfo.h"

namespace {

TEST(ColumnInfoTest, DefaultColumnsAreTheTitlesVisibleAndDescending) {
    // The described eleven keep their numbers; Result, the rates and the
    // destination's port (hidden until asked for) come after them.
    const char* titles[] = {"Source",           "Destination",        "User Name",
                            "Service",          "Start Time",         "Duration",
                            "In Traffic",       "Out Traffic",        "Total Traffic",
                            "Authentification", "Next SOCKS5 Server", "Result",
                            "In Rate",          "Out Rate",           "Destination Port"};
    ColumnInfoArray columns(3);  // whatever was there is replaced
    BuildDefaultColumns(columns);
    ASSERT_EQ(g_nColumns, 15);
    ASSERT_EQ(columns.size(), 15u);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(ColumnTitle(i), titles[i]);
        EXPECT_EQ(columns[i].m_Title, titles[i]);
        EXPECT_EQ(columns[i].m_Id, i);
        EXPECT_EQ(columns[i].m_bHidden, i == 14 ? 1 : 0);
        EXPECT_EQ(columns[i].m_bAscending, 0);
    }
}

TEST(ColumnInfoTest, CopyColumnsResizesAndRoundTrips) {
    ColumnInfoArray view;
    BuildDefaultColumns(view);
    view[4].m_bHidden = 1;
    view[7].m_bAscending = 1;
    ColumnInfoArray page(20);  // shrinks to the source's size
    CopyColumns(view, page);
    ASSERT_EQ(page.size(), 15u);
    EXPECT_EQ(page[4].m_bHidden, 1);
    EXPECT_EQ(page[7].m_bAscending, 1);

    page.resize(5);
    CopyColumns(view, page);  // grows back
    ASSERT_EQ(page.size(), 15u);
    CopyColumns(page, view);
    EXPECT_EQ(view[10].m_Title, "Next SOCKS5 Server");
    EXPECT_EQ(view[10].m_Id, 10);
    EXPECT_EQ(view[4].m_bHidden, 1);
    EXPECT_EQ(view[7].m_bAscending, 1);
}

}  // namespace
