// The Data page: what a new session shows, the period spin and its
// validation, and host form, unit and period reaching the session.

#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>

#include "gui/options/OptionDataDlg.h"
#include "gui/options/OptionsFixture.h"
#include "gui/options/SpinButton.h"
#include "support/FakeMonitor.h"
#include "support/RecordEncoder.h"
#include "support/SessionSettle.h"

class OptionDataTest : public OptionsTest {
protected:
    int OnDataPage(const std::function<void(OptionPPT&, OptionDataDlg&)>& script) {
        return RunSheet([&script](OptionPPT& sheet) {
            sheet.Tabs()->setCurrentIndex(1);
            script(sheet, sheet.DataPage());
            if (sheet.isVisible()) sheet.reject();
        });
    }
};

TEST_F(OptionDataTest, NewSessionShowsNameByteAndSixtySeconds) {
    OnDataPage([](OptionPPT&, OptionDataDlg& page) {
        EXPECT_TRUE(page.NameButton()->isChecked());
        EXPECT_FALSE(page.IpButton()->isChecked());
        EXPECT_TRUE(page.ByteButton()->isChecked());
        EXPECT_FALSE(page.KiloButton()->isChecked());
        EXPECT_FALSE(page.MegaButton()->isChecked());
        EXPECT_EQ(page.PeriodEdit()->text(), "60");
    });
}

TEST_F(OptionDataTest, PeriodStepsByFiveWithinFiveTo120AndIsKeptForTheNextConnection) {
    OnDataPage([](OptionPPT& sheet, OptionDataDlg& page) {
        QLineEdit* edit = page.PeriodEdit();
        Click(page.PeriodSpin()->UpButton());
        EXPECT_EQ(edit->text(), "65");
        Click(page.PeriodSpin()->DownButton());
        Click(page.PeriodSpin()->DownButton());
        EXPECT_EQ(edit->text(), "55");
        TypeInto(edit, "5");
        QTest::keyClick(edit, Qt::Key_Down);
        EXPECT_EQ(edit->text(), "5");
        TypeInto(edit, "118");
        Click(page.PeriodSpin()->UpButton());
        EXPECT_EQ(edit->text(), "120");
        Click(page.PeriodSpin()->UpButton());
        EXPECT_EQ(edit->text(), "120");
        Click(sheet.OkButton());
    });
    EXPECT_EQ(m_pDocument->m_UpdatePeriod, 120);  // while disconnected

    FakeMonitor monitor;
    ASSERT_TRUE(m_pDocument->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(m_pDocument.get()));
    EXPECT_TRUE(m_pDocument->HasTimerClient());
    EXPECT_EQ(m_pDocument->TimerClientPeriod(), 120);

    OnDataPage([](OptionPPT& sheet, OptionDataDlg& page) {
        EXPECT_EQ(page.PeriodEdit()->text(), "120");
        TypeInto(page.PeriodEdit(), "30");
        Click(sheet.ApplyButton());
    });
    EXPECT_EQ(m_pDocument->TimerClientPeriod(), 30);
}

TEST_F(OptionDataTest, PeriodOutsideFiveTo120OrNotANumberKeepsThePageOpen) {
    OnDataPage([this](OptionPPT& sheet, OptionDataDlg& page) {
        QLineEdit* edit = page.PeriodEdit();
        TypeInto(edit, "3");
        sheet.Tabs()->setCurrentIndex(2);
        EXPECT_EQ(sheet.Tabs()->currentIndex(), 1);
        TypeInto(edit, "121");
        Click(sheet.OkButton());
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_EQ(m_Messages, QStringList(2, "Please enter an integer between 5 and 120."));
        TypeInto(edit, "");
        Click(sheet.ApplyButton());
        EXPECT_EQ(m_Messages.last(), "Please enter an integer.");
        EXPECT_EQ(sheet.CancelButton()->text(), "Cancel");
        TypeInto(edit, " 45 ");
        Click(sheet.OkButton());
        EXPECT_FALSE(sheet.isVisible());
    });
    EXPECT_EQ(m_Messages.size(), 3);
    EXPECT_EQ(m_pDocument->m_UpdatePeriod, 45);
}

TEST_F(OptionDataTest, KeepAtMostSetsTheSessionsLimitWithinOneTo100000) {
    OnDataPage([this](OptionPPT& sheet, OptionDataDlg& page) {
        EXPECT_EQ(page.LimitEdit()->text(), "50");
        TypeInto(page.LimitEdit(), "100001");
        Click(sheet.OkButton());
        EXPECT_TRUE(sheet.isVisible());
        EXPECT_EQ(m_Messages, QStringList{"Please enter an integer between 1 and 100000."});
        TypeInto(page.LimitEdit(), "100000");
        Click(sheet.OkButton());
    });
    EXPECT_EQ(m_pDocument->m_Table.ConnectionLimit(), 100000u);
}

TEST_F(OptionDataTest, KilobytesTurn1536Into150KInEveryRow) {
    FakeMonitor monitor;
    const MonBytes address = EncodeSockAddr("10.0.0.1");
    std::vector<MonBytes> batch;
    for (uint32_t id = 1; id <= 3; ++id) {
        batch.push_back(EncodeOpen(id, id, 0, 1000000000, "user", address, "client.example"));
        batch.push_back(EncodeUpdate(id, id, "www", {}, "", address, "server.example", 1536, 0));
    }
    batch.push_back(EncodeResult(3, 3, 5, "refused"));
    batch.push_back(EncodeClose(3, 3));  // 3 failed
    monitor.QueueBatch(batch);
    ASSERT_TRUE(m_pDocument->ConnectTo(QString::fromStdString(monitor.Host())));
    ASSERT_TRUE(SettleSession(m_pDocument.get()));
    monitor.QueueBatch({EncodeClose(2, 2)});  // 2 closes in the poll after OK

    OnDataPage([](OptionPPT& sheet, OptionDataDlg& page) {
        Click(page.KiloButton());
        Click(sheet.OkButton());
    });
    ASSERT_TRUE(SettleSession(m_pDocument.get()));

    auto expectKilobytes = [this](int rows) {
        QAbstractItemModel* model = m_pGrid->model();
        ASSERT_EQ(model->rowCount(), rows);
        for (int row = 0; row < rows; ++row) {
            for (int column : {6, 8}) {  // In Traffic, Total Traffic
                EXPECT_EQ(model->index(row, column).data().toString(), "1.50K") << row;
            }
        }
    };
    expectKilobytes(2);  // active 1 and the just-closed 2
    m_pDocument->OnShowFailed();
    ASSERT_TRUE(SettleSession(m_pDocument.get()));
    expectKilobytes(1);
}
