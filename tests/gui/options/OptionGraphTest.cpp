// The Graph page: the service lines and the five-service limit, Add and
// Delete, colour and line style, and what reaches the catalogue and the graph.

#include <QLineEdit>
#include <QTabWidget>

#include "gui/options/LineStyleListBox.h"
#include "gui/options/OptionGraphDlg.h"
#include "gui/options/OptionsFixture.h"
#include "gui/options/SystemServices.h"
#include "gui/toolkit/ColorWell.h"

namespace {

const QStringList PredefinedLines = {"archie(1525)", "finger(79)", "ftp(21)",
                                     "ftp-data(20)", "https(443)", "socks(1080)",
                                     "telnet(23)",   "whois(43)",  "www(80)"};

QStringList Checked(const QListWidget* list) {
    QStringList lines;
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->checkState() == Qt::Checked) lines << list->item(row)->text();
    }
    return lines;
}

QStringList Disabled(const QListWidget* list) {
    QStringList lines;
    for (int row = 0; row < list->count(); ++row) {
        if (!CheckListBox::IsLineEnabled(list->item(row))) lines << list->item(row)->text();
    }
    return lines;
}

bool SameRecords(const GraphView::ServiceMap& left, const GraphView::ServiceMap& right) {
    if (left.size() != right.size()) return false;
    for (const auto& [name, record] : left) {
        const auto found = right.find(name);
        if (found == right.end()) return false;
        const ServiceRecord& other = found->second;
        if (record.m_Name != other.m_Name || record.m_bUserDefined != other.m_bUserDefined ||
            record.m_Port != other.m_Port || record.m_Color != other.m_Color ||
            record.m_LineStyle != other.m_LineStyle) {
            return false;
        }
    }
    return true;
}

}  // namespace

class OptionGraphTest : public OptionsTest {
protected:
    // Runs the script on the Graph page of a sheet that is then cancelled
    // unless the script closed it.
    int OnGraphPage(const std::function<void(OptionPPT&, OptionGraphDlg&)>& script) {
        return RunSheet([&script](OptionPPT& sheet) {
            sheet.Tabs()->setCurrentIndex(2);
            script(sheet, sheet.GraphPage());
            if (sheet.isVisible()) sheet.reject();
        });
    }
};

TEST_F(OptionGraphTest, NewSessionShowsTheNineServicesSortedWithFiveChecked) {
    OnGraphPage([](OptionPPT&, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        EXPECT_EQ(Texts(list), PredefinedLines);
        EXPECT_EQ(Checked(list), QStringList({"archie(1525)", "ftp(21)", "ftp-data(20)",
                                              "telnet(23)", "www(80)"}));
        EXPECT_TRUE(Disabled(list).isEmpty());
        EXPECT_EQ(page.IsLimitReached(), 0);
        EXPECT_EQ(list->currentRow(), 0);
        EXPECT_EQ(page.LineStyleList()->count(), LineStyleListBox::StyleCount);
        EXPECT_EQ(page.LineStyleList()->currentRow(), 0);  // archie: solid
        EXPECT_EQ(page.GetColorWell()->GetColor(), 0x00FFFFu);
        EXPECT_EQ(page.LineStyleList()->SampleColor(), 0x00FFFFu);
        EXPECT_EQ(page.LineStyleList()->visualItemRect(page.LineStyleList()->item(3)).height(),
                  LineStyleListBox::ItemHeight);
        EXPECT_FALSE(page.AddButton()->isEnabled());
        EXPECT_TRUE(page.DeleteButton()->isEnabled());
    });
}

TEST_F(OptionGraphTest, FiveCheckedLinesDisableTheOthersUntilOneIsUnchecked) {
    OnGraphPage([](OptionPPT& sheet, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        ClickItem(list, 1);  // finger, on its text
        EXPECT_EQ(Disabled(list),
                  QStringList({"finger(79)", "https(443)", "socks(1080)", "whois(43)"}));
        EXPECT_EQ(page.IsLimitReached(), 1);
        EXPECT_EQ(page.NameEdit()->text(), "finger");
        EXPECT_EQ(page.PortEdit()->text(), "79");
        EXPECT_EQ(page.LineStyleList()->currentRow(), 3);  // finger: dash-dot
        EXPECT_TRUE(sheet.ApplyButton()->isEnabled());

        ClickCheckBox(list, 0);  // archie unchecked
        EXPECT_TRUE(Disabled(list).isEmpty());
        EXPECT_EQ(page.IsLimitReached(), 0);
        EXPECT_EQ(page.GetShownServices(),
                  std::vector<std::string>({"ftp", "ftp-data", "telnet", "www"}));
    });
}

TEST_F(OptionGraphTest, BoxOfTheSelectedLineTogglesAtEveryClick) {
    OnGraphPage([](OptionPPT&, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        ClickItem(list, 2);  // ftp, on its text: its colour and style show
        for (Qt::CheckState expected : {Qt::Unchecked, Qt::Checked, Qt::Unchecked}) {
            ClickCheckBox(list, 2);
            EXPECT_EQ(list->item(2)->checkState(), expected);
        }
        EXPECT_EQ(page.GetShownServices(),
                  std::vector<std::string>({"archie", "ftp-data", "telnet", "www"}));
    });
}

TEST_F(OptionGraphTest, ASixthCheckKeepsTheFirstFiveInListOrder) {
    OnGraphPage([](OptionPPT&, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        ClickCheckBox(list, 1);  // finger, before the limit is active
        EXPECT_EQ(Checked(list), QStringList({"archie(1525)", "finger(79)", "ftp(21)",
                                              "ftp-data(20)", "telnet(23)"}));
        EXPECT_EQ(Disabled(list),
                  QStringList({"https(443)", "socks(1080)", "whois(43)", "www(80)"}));
        EXPECT_EQ(list->currentRow(), 1);
        EXPECT_EQ(page.GetShownServices(),
                  std::vector<std::string>({"archie", "finger", "ftp", "ftp-data", "telnet"}));
    });
}

TEST_F(OptionGraphTest, AddMakesAnUncheckedUserLineWithTheColourAndStyleShown) {
    OnGraphPage([](OptionPPT&, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        ClickItem(list, 8);  // www: blue, solid width 4
        TypeInto(page.NameEdit(), "gopher");
        EXPECT_FALSE(page.DeleteButton()->isEnabled());  // the Name field has the focus
        TypeInto(page.PortEdit(), "70");
        EXPECT_TRUE(page.AddButton()->isEnabled());
        Click(page.AddButton());

        const int row = Texts(list).indexOf("gopher(70)");
        EXPECT_EQ(row, 4);  // sorted between ftp-data(20) and https(443)
        EXPECT_EQ(list->item(row)->checkState(), Qt::Unchecked);
        EXPECT_EQ(list->currentRow(), row);
        EXPECT_TRUE(page.DeleteButton()->isEnabled());
        EXPECT_FALSE(page.AddButton()->isEnabled());
        const ServiceRecord& gopher = page.GetServiceMap().at("gopher");
        EXPECT_EQ(gopher.m_bUserDefined, 1);
        EXPECT_EQ(gopher.m_Port, 70);
        // Not www's blue, which the well showed: the first colour no line has (maroon).
        EXPECT_EQ(gopher.m_Color, 0x000080u);
        EXPECT_EQ(page.GetColorWell()->GetColor(), 0x000080u);
        EXPECT_EQ(gopher.m_LineStyle, 5);

        QTest::keyClick(page.PortEdit(), Qt::Key_1);  // gopher(701) does not exist yet
        EXPECT_TRUE(page.AddButton()->isEnabled());
        // Names that could not be matched back to a record, and ports beyond 16 bits.
        for (const auto& [name, port] :
             {std::pair<QString, QString>{"Others", "9"}, {"go(pher", "9"}, {"gopher", "65536"}}) {
            TypeInto(page.NameEdit(), name);
            TypeInto(page.PortEdit(), port);
            EXPECT_FALSE(page.AddButton()->isEnabled()) << name.toStdString();
            page.OnAdd();
            EXPECT_EQ(list->count(), 10);
        }
        TypeInto(page.PortEdit(), "7a0");  // digits only
        EXPECT_EQ(page.PortEdit()->text(), "70");
    });
}

TEST_F(OptionGraphTest, ANameOfTheSystemsServicesFillsInItsPort) {
    const auto& ports = SystemServices::TcpPorts();
    if (ports.empty()) GTEST_SKIP() << "no services database on this machine";
    const auto& [name, port] = *ports.begin();
    OnGraphPage([&](OptionPPT&, OptionGraphDlg& page) {
        TypeInto(page.NameEdit(), name);
        EXPECT_EQ(page.PortEdit()->text(), QString::number(port));
        EXPECT_TRUE(page.AddButton()->isEnabled());
        TypeInto(page.PortEdit(), "8000");  // a port given stays
        TypeInto(page.NameEdit(), name);
        EXPECT_EQ(page.PortEdit()->text(), "8000");
    });
}

TEST_F(OptionGraphTest, DeleteRefusesPredefinedLinesAndRemovesUserLines) {
    OnGraphPage([this](OptionPPT&, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        ClickItem(list, 6);  // telnet
        Click(page.DeleteButton());
        EXPECT_EQ(m_Messages, QStringList({"You can not delete predefined services.\n"
                                           "Check to display in the current graph.\n"
                                           "Uncheck to remove from the current graph."}));
        EXPECT_EQ(Texts(list), PredefinedLines);
        EXPECT_EQ(page.GetServiceMap().count("telnet"), 1u);

        ClickCheckBox(list, 8);  // www unchecked: the limit the click on telnet set is lifted
        TypeInto(page.NameEdit(), "gopher");
        TypeInto(page.PortEdit(), "70");
        Click(page.AddButton());
        ClickCheckBox(list, 4);  // gopher checked
        Click(page.DeleteButton());
        EXPECT_EQ(Texts(list), PredefinedLines);
        EXPECT_EQ(page.GetServiceMap().count("gopher"), 0u);
        // https moved into its place and is selected; the fields and the
        // shown services are those of the deleted line until the next selection.
        EXPECT_EQ(list->currentRow(), 4);
        EXPECT_EQ(page.NameEdit()->text(), "gopher");
        const auto& shown = page.GetShownServices();
        EXPECT_NE(std::find(shown.begin(), shown.end(), "gopher"), shown.end());

        list->clearSelection();
        page.OnDelete();
        EXPECT_TRUE(Traced("No item selected"));
        EXPECT_EQ(m_Messages.size(), 1);
    });
}

TEST_F(OptionGraphTest, ColourAndLineStyleGoToTheSelectedService) {
    OnGraphPage([this](OptionPPT& sheet, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        ColorWell* well = page.GetColorWell();
        const int magenta = static_cast<int>(
            std::find(ColorWell::Palette().begin(), ColorWell::Palette().end(), 0xFF00FFu) -
            ColorWell::Palette().begin());
        ClickItem(list, 8);  // www
        QTest::mouseClick(well, Qt::LeftButton, Qt::NoModifier, well->CellRect(magenta).center());
        EXPECT_EQ(page.GetServiceMap().at("www").m_Color, 0xFF00FFu);
        EXPECT_EQ(page.LineStyleList()->SampleColor(), 0xFF00FFu);
        ClickItem(page.LineStyleList(), 6);
        EXPECT_EQ(page.GetServiceMap().at("www").m_LineStyle, 6);

        // The well is reachable with the keyboard: one cell to the left and Space.
        well->setFocus();
        QTest::keyClick(well, Qt::Key_Left);
        QTest::keyClick(well, Qt::Key_Space);
        EXPECT_EQ(page.GetServiceMap().at("www").m_Color, 0xFFFF00u);  // cyan

        EXPECT_EQ(page.OnColorWellMessage(99, 0x123456), 0);
        EXPECT_TRUE(Traced("Who else is using this message?!?"));
        EXPECT_EQ(page.LineStyleList()->SampleColor(), 0xFFFF00u);

        // Without a selected line a pick only recolours the samples.
        list->clearSelection();
        QTest::mouseClick(well, Qt::LeftButton, Qt::NoModifier, well->CellRect(0).center());
        EXPECT_EQ(page.LineStyleList()->SampleColor(), 0x000000u);
        EXPECT_EQ(page.GetServiceMap().at("www").m_Color, 0xFFFF00u);
        Click(sheet.OkButton());
    });
    EXPECT_EQ(GraphView::GetMasterMap().at("www").m_Color, 0xFFFF00u);
    EXPECT_EQ(GraphView::GetMasterMap().at("www").m_LineStyle, 6);
}

TEST_F(OptionGraphTest, CancelLeavesTheCatalogueAndTheGraphAsTheyWere) {
    const GraphView::ServiceMap before = GraphView::GetMasterMap();
    const std::vector<std::string> shown = m_pGraph->GetServiceList();
    OnGraphPage([](OptionPPT& sheet, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        TypeInto(page.NameEdit(), "gopher");
        TypeInto(page.PortEdit(), "70");
        Click(page.AddButton());
        ClickItem(list, 0);
        QTest::mouseClick(page.GetColorWell(), Qt::LeftButton, Qt::NoModifier,
                          page.GetColorWell()->CellRect(1).center());
        ClickCheckBox(list, 1);
        Click(sheet.CancelButton());
    });
    EXPECT_TRUE(SameRecords(GraphView::GetMasterMap(), before));
    EXPECT_EQ(m_pGraph->GetServiceList(), shown);
}

TEST_F(OptionGraphTest, OkMergesTheCatalogueAndGivesTheGraphItsList) {
    OnGraphPage([](OptionPPT& sheet, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        TypeInto(page.NameEdit(), "ftp");  // replaces the predefined ftp under its name
        TypeInto(page.PortEdit(), "2121");
        Click(page.AddButton());
        EXPECT_EQ(Texts(list).indexOf("ftp(2121)"), Texts(list).indexOf("ftp(21)") + 1);
        ClickCheckBox(list, 1);  // finger: www gives way
        ClickItem(list, Texts(list).indexOf("ftp(21)"));  // both lines show the new record
        EXPECT_EQ(page.PortEdit()->text(), "2121");
        Click(sheet.OkButton());
    });
    const ServiceRecord& ftp = GraphView::GetMasterMap().at("ftp");
    EXPECT_EQ(ftp.m_Port, 2121);
    EXPECT_EQ(ftp.m_bUserDefined, 1);
    EXPECT_EQ(
        m_pGraph->GetServiceList(),
        std::vector<std::string>({"archie", "finger", "ftp", "ftp-data", "telnet", "Others"}));
}

// A predefined name given a new port and then deleted leaves its old line
// without a record: the line still shows its own name and port, and every
// operation on it ends with its diagnostic.
TEST_F(OptionGraphTest, ALineWhoseRecordIsGoneShowsItsTextAndIsTraced) {
    OnGraphPage([this](OptionPPT&, OptionGraphDlg& page) {
        CheckListBox* list = page.ServiceCheckList();
        TypeInto(page.NameEdit(), "ftp");
        TypeInto(page.PortEdit(), "2121");
        Click(page.AddButton());
        Click(page.DeleteButton());  // ftp(2121), and with it the record "ftp"
        EXPECT_EQ(page.GetServiceMap().count("ftp"), 0u);
        EXPECT_EQ(list->currentItem()->text(), "ftp-data(20)");

        ClickItem(list, 2);  // ftp(21)
        EXPECT_EQ(page.NameEdit()->text(), "ftp");
        EXPECT_EQ(page.PortEdit()->text(), "21");
        Click(page.DeleteButton());
        EXPECT_TRUE(Traced("Can not find selected service in the map"));
        QTest::mouseClick(page.GetColorWell(), Qt::LeftButton, Qt::NoModifier,
                          page.GetColorWell()->CellRect(3).center());
        ClickItem(page.LineStyleList(), 2);
        EXPECT_EQ(std::count_if(m_Trace.begin(), m_Trace.end(),
                                [](const std::string& line) {
                                    return line.rfind("Subset not found in ", 0) == 0;
                                }),
                  2);
        EXPECT_TRUE(m_Messages.isEmpty());
        EXPECT_EQ(list->count(), 9);
    });
}
