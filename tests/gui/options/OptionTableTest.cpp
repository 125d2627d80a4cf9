// The Table page: moving columns between the lists, the sort buttons, the
// frozen count and its validation, and what reaches the grid.

#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>

#include "gui/options/OptionTableDlg.h"
#include "gui/options/OptionsFixture.h"
#include "gui/options/SpinButton.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"
#include "support/SessionSettle.h"

namespace {

// A new grid shows all but the destination's port.
const QStringList ShownTitles = {
    "Source",        "Destination",      "User Name",          "Service",
    "Start Time",    "Duration",         "In Traffic",         "Out Traffic",
    "Total Traffic", "Authentification", "Next SOCKS5 Server", "Result",
    "In Rate",       "Out Rate"};
const QStringList AllTitles = ShownTitles + QStringList{"Destination Port"};

int RowOf(const QListWidget* list, const QString& text) {
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text() == text) return row;
    }
    return -1;
}

}  // namespace

class OptionTableTest : public OptionsTest {};

TEST_F(OptionTableTest, HidingEveryColumnAndShowingThemAgain) {
    RunSheet([](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        EXPECT_EQ(Texts(page.ShownList()), ShownTitles);
        EXPECT_EQ(Texts(page.HiddenList()), QStringList{"Destination Port"});
        for (QWidget* button :
             std::initializer_list<QWidget*>{page.HideButton(), page.ShowButton(),
                                             page.AscendingButton(), page.DescendingButton()}) {
            EXPECT_FALSE(button->isEnabled());
        }
        // Out of order, one at a time: the hidden list stays in column order.
        ClickItem(page.ShownList(), RowOf(page.ShownList(), "Service"));
        EXPECT_TRUE(page.HideButton()->isEnabled());
        EXPECT_FALSE(page.ShowButton()->isEnabled());
        Click(page.HideButton());
        ClickItem(page.ShownList(), RowOf(page.ShownList(), "Source"));
        Click(page.HideButton());
        EXPECT_EQ(Texts(page.HiddenList()), QStringList({"Source", "Service", "Destination Port"}));
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        ClickItem(page.ShownList(), 0);
        ClickItem(page.ShownList(), page.ShownList()->count() - 1, Qt::ShiftModifier);
        Click(page.HideButton());
        EXPECT_EQ(page.ShownList()->count(), 0);
        EXPECT_EQ(Texts(page.HiddenList()), AllTitles);
        Click(sheet.OkButton());
    });
    for (int column = 0; column < AllTitles.size(); ++column) {
        EXPECT_TRUE(m_pGrid->isColumnHidden(column)) << column;
        EXPECT_EQ(m_pGrid->m_ColumnInfo[column].m_bHidden, 1);
    }

    RunSheet([](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        EXPECT_EQ(Texts(page.HiddenList()), AllTitles);
        ClickItem(page.HiddenList(), 0);
        EXPECT_TRUE(page.ShowButton()->isEnabled());
        EXPECT_FALSE(page.HideButton()->isEnabled());
        page.HiddenList()->setFocus();
        QTest::keyClick(page.HiddenList(), Qt::Key_A, Qt::ControlModifier);
        Click(page.ShowButton());
        EXPECT_EQ(Texts(page.ShownList()), AllTitles);
        Click(sheet.OkButton());
    });
    for (int column = 0; column < AllTitles.size(); ++column) {
        EXPECT_FALSE(m_pGrid->isColumnHidden(column)) << column;
        EXPECT_EQ(m_pGrid->m_ColumnInfo[column].m_Title, AllTitles[column].toStdString());
    }
}

// On a low screen (a scale factor of 2) the sheet is as small as it may be;
// every column must still show in either list without scrolling.
TEST_F(OptionTableTest, BothListsShowEveryColumnAtTheSheetsSmallestSize) {
    RunSheet([](OptionPPT& sheet) {
        sheet.resize(sheet.minimumSizeHint());
        QCoreApplication::processEvents();
        OptionTableDlg& page = sheet.TablePage();
        for (QListWidget* list : {page.ShownList(), page.HiddenList()}) {
            EXPECT_GE(list->viewport()->height(),
                      static_cast<int>(AllTitles.size()) * page.ShownList()->sizeHintForRow(0));
        }
        Click(sheet.CancelButton());
    });
}

TEST_F(OptionTableTest, MixedSelectionUnchecksBothSortButtons) {
    m_pGrid->m_ColumnInfo[5].m_bAscending = 1;  // Duration ascending, Service descending
    RunSheet([](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        ClickItem(page.ShownList(), 3);  // Service
        EXPECT_TRUE(page.DescendingButton()->isChecked());
        EXPECT_FALSE(page.AscendingButton()->isChecked());
        ClickItem(page.ShownList(), 5, Qt::ControlModifier);  // and Duration
        EXPECT_TRUE(page.AscendingButton()->isEnabled());
        EXPECT_FALSE(page.AscendingButton()->isChecked());
        EXPECT_FALSE(page.DescendingButton()->isChecked());
        Click(page.AscendingButton());
        EXPECT_TRUE(page.AscendingButton()->isChecked());
        EXPECT_EQ(page.WorkColumns()[3].m_bAscending, 1);
        EXPECT_EQ(page.WorkColumns()[5].m_bAscending, 1);
        // A second click keeps the direction rather than clearing the button.
        Click(page.AscendingButton());
        EXPECT_TRUE(page.AscendingButton()->isChecked());
        ClickItem(page.ShownList(), 4);  // Start Time alone
        EXPECT_TRUE(page.DescendingButton()->isChecked());
        Click(sheet.OkButton());
    });
    EXPECT_EQ(m_pGrid->m_ColumnInfo[3].m_bAscending, 1);
    EXPECT_EQ(m_pGrid->m_ColumnInfo[5].m_bAscending, 1);
    EXPECT_EQ(m_pGrid->m_ColumnInfo[4].m_bAscending, 0);
}

TEST_F(OptionTableTest, DirectionGoesToTheHiddenListsSelectionFirst) {
    m_pGrid->m_ColumnInfo[9].m_bHidden = 1;
    m_pGrid->m_ColumnInfo[10].m_bHidden = 1;
    RunSheet([](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        ClickItem(page.ShownList(), 0);  // selecting in one list clears the other
        ClickItem(page.HiddenList(), 1);
        EXPECT_TRUE(page.ShownList()->selectedItems().isEmpty());
        Click(page.AscendingButton());
        EXPECT_EQ(page.WorkColumns()[10].m_bAscending, 1);
        EXPECT_EQ(page.WorkColumns()[0].m_bAscending, 0);
        EXPECT_EQ(page.WorkColumns()[9].m_bAscending, 0);

        // Should both lists hold a selection, the hidden one still wins.
        page.ShownList()->blockSignals(true);
        page.ShownList()->item(1)->setSelected(true);
        page.ShownList()->blockSignals(false);
        Click(page.DescendingButton());
        EXPECT_EQ(page.WorkColumns()[10].m_bAscending, 0);
        Click(page.AscendingButton());
        EXPECT_EQ(page.WorkColumns()[1].m_bAscending, 0);
        Click(sheet.CancelButton());
    });
    EXPECT_EQ(m_pGrid->m_ColumnInfo[10].m_bAscending, 0);  // cancelled
}

TEST_F(OptionTableTest, FrozenCountSpinsWithinZeroToTwoAndIsValidated) {
    RunSheet([this](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        QLineEdit* edit = page.FrozenEdit();
        EXPECT_EQ(edit->text(), "0");
        Click(page.FrozenSpin()->DownButton());
        EXPECT_EQ(edit->text(), "0");
        EXPECT_FALSE(sheet.ApplyButton()->isEnabled());  // nothing changed
        for (int step = 0; step < 3; ++step) Click(page.FrozenSpin()->UpButton());
        EXPECT_EQ(edit->text(), "2");
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
        QTest::keyClick(edit, Qt::Key_Down);
        EXPECT_EQ(edit->text(), "1");

        TypeInto(edit, "3");
        Click(sheet.OkButton());
        EXPECT_EQ(m_Messages, QStringList({"Please enter an integer between 0 and 2."}));
        EXPECT_TRUE(sheet.isVisible());
        TypeInto(edit, "two");
        Click(sheet.ApplyButton());
        sheet.Tabs()->setCurrentIndex(1);
        Click(page.FrozenSpin()->UpButton());
        EXPECT_EQ(m_Messages.mid(1), QStringList(3, "Please enter an integer."));
        EXPECT_EQ(sheet.Tabs()->currentIndex(), 0);
        EXPECT_EQ(sheet.CancelButton()->text(), "Cancel");  // the Apply did not happen
        EXPECT_EQ(edit->text(), "two");

        TypeInto(edit, "2");
        Click(sheet.OkButton());
    });
    EXPECT_EQ(m_pGrid->FrozenColumns(), 2);

    // The page starts from the count the grid has.
    RunSheet([](OptionPPT& sheet) {
        EXPECT_EQ(sheet.TablePage().FrozenEdit()->text(), "2");
        Click(sheet.CancelButton());
    });
}

TEST_F(OptionTableTest, ColumnIdOutsideTheDescriptorsIsTracedAndSkipped) {
    m_pGrid->m_ColumnInfo[2].m_Id = 42;
    RunSheet([this](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        const int row = RowOf(page.ShownList(), "User Name");
        ASSERT_GE(row, 0);
        ClickItem(page.ShownList(), row);
        EXPECT_TRUE(Traced("Index out of range"));
        EXPECT_FALSE(page.AscendingButton()->isChecked());
        EXPECT_FALSE(page.DescendingButton()->isChecked());
        m_Trace.clear();
        Click(page.HideButton());
        EXPECT_TRUE(Traced("Index out of range"));
        EXPECT_EQ(page.HiddenList()->count(), 1);              // the destination's port only
        EXPECT_EQ(RowOf(page.ShownList(), "User Name"), row);  // left where it was
        Click(sheet.CancelButton());
    });
}

// The directions and the frozen count chosen here take effect in the grid:
// a header click orders the rows by value in the column's direction, and the
// frozen columns are the leading visible ones.
TEST_F(OptionTableTest, GridSortsByTheChosenDirectionAndFreezesLeadingColumns) {
    FakeMonitor monitor;
    const MonBytes address = EncodeSockAddr("10.0.0.1");
    std::vector<MonBytes> batch;
    const uint32_t traffic[] = {1536, 10000, 900};  // as text, 10000 would sort first
    for (uint32_t id = 1; id <= 3; ++id) {
        batch.push_back(EncodeOpen(id, id, 0, 1000000000, "user", address, "client.example"));
        batch.push_back(
            EncodeUpdate(id, id, "www", {}, "", address, "server.example", traffic[id - 1], 0));
    }
    monitor.QueueBatch(batch);
    ASSERT_TRUE(m_pDocument->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(m_pDocument.get()));
    m_pGrid->resize(900, 300);
    m_pGrid->show();

    auto column = [this](int index) {
        QStringList texts;
        for (int row = 0; row < m_pGrid->model()->rowCount(); ++row) {
            texts << m_pGrid->model()->index(row, index).data().toString();
        }
        return texts;
    };
    auto chooseDirection = [this](bool ascending) {
        RunSheet([ascending](OptionPPT& sheet) {
            ClickItem(sheet.TablePage().ShownList(), 6);  // In Traffic
            Click(ascending ? sheet.TablePage().AscendingButton()
                            : sheet.TablePage().DescendingButton());
            Click(sheet.OkButton());
        });
    };

    chooseDirection(true);
    QHeaderView* header = m_pGrid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(6) + header->sectionSize(6) / 2,
                             header->height() / 2));
    EXPECT_EQ(m_pGrid->SortColumn(), 6);
    EXPECT_EQ(column(6), QStringList({"900", "1536", "10000"}));
    chooseDirection(false);  // the sorted grid follows at once
    EXPECT_EQ(column(6), QStringList({"10000", "1536", "900"}));

    RunSheet([](OptionPPT& sheet) {
        OptionTableDlg& page = sheet.TablePage();
        ClickItem(page.ShownList(), 0);  // Source hidden
        Click(page.HideButton());
        Click(page.FrozenSpin()->UpButton());
        Click(page.FrozenSpin()->UpButton());
        Click(sheet.OkButton());
    });
    EXPECT_EQ(m_pGrid->FrozenColumns(), 2);
    QTableView* frozen = m_pGrid->FrozenView();
    EXPECT_FALSE(frozen->isHidden());
    for (int index = 0; index < 11; ++index) {
        EXPECT_EQ(frozen->isColumnHidden(index), index != 1 && index != 2) << index;
    }
}
