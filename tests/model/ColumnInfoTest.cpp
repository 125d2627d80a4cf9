#include <gtest/gtest.h>

#include "records/ColumnInfo.h"

namespace {

TEST(ColumnInfoTest, DefaultColumnsAreTheElevenTitlesVisibleAndDescending) {
    const char* titles[] = {"Source",        "Destination",      "User Name",         "Service",
                            "Start Time",    "Duration",         "In Traffic",        "Out Traffic",
                            "Total Traffic", "Authentification", "Next SOCKS5 Server"};
    ColumnInfoArray columns(3);  // whatever was there is replaced
    BuildDefaultColumns(columns);
    ASSERT_EQ(g_nColumns, 11);
    ASSERT_EQ(columns.size(), 11u);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(ColumnTitle(i), titles[i]);
        EXPECT_EQ(columns[i].m_Title, titles[i]);
        EXPECT_EQ(columns[i].m_Id, i);
        EXPECT_EQ(columns[i].m_bHidden, 0);
        EXPECT_EQ(columns[i].m_bAscending, 0);
    }
    EXPECT_EQ(ColumnTitle(11), "");
    EXPECT_EQ(ColumnTitle(-1), "");
}

TEST(ColumnInfoTest, CopyColumnsResizesAndRoundTrips) {
    ColumnInfoArray view;
    BuildDefaultColumns(view);
    view[4].m_bHidden = 1;
    view[7].m_bAscending = 1;

    ColumnInfoArray page(20);  // shrinks to the source's size
    CopyColumns(view, page);
    ASSERT_EQ(page.size(), 11u);
    EXPECT_EQ(page[4].m_bHidden, 1);
    EXPECT_EQ(page[7].m_bAscending, 1);
    EXPECT_EQ(page[10].m_Title, "Next SOCKS5 Server");

    const ColumnInfoArray before = view;
    CopyColumns(page, view);
    ASSERT_EQ(view.size(), before.size());
    for (size_t i = 0; i < view.size(); ++i) {
        EXPECT_EQ(view[i].m_Title, before[i].m_Title);
        EXPECT_EQ(view[i].m_Id, before[i].m_Id);
        EXPECT_EQ(view[i].m_bHidden, before[i].m_bHidden);
        EXPECT_EQ(view[i].m_bAscending, before[i].m_bAscending);
    }

    ColumnInfoArray empty;
    CopyColumns(empty, view);
    EXPECT_TRUE(view.empty());
    CopyColumns(view, view);
    EXPECT_TRUE(view.empty());
}

}  // namespace
