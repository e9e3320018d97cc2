#include "AppTestSupport.h"
#include "TestDb.h"

#include "app/MailPage.h"
#include "app/ReportView.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <fstream>

namespace mrvn::test {
namespace {

class MailOperator : public WindowTest
{
protected:
    // The started window, shown and active, on its mail page.
    MailPage& OnMailPage()
    {
        MainWindow& window = Started();
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        Find<QTabWidget>("选择夹1")->setCurrentIndex(1);
        return *FindIn<MailPage>(window, "发放邮件");
    }

    // A catalogue of `records` items named "物品<n>" with the ids "<n>".
    void WriteCatalogue(int records)
    {
        std::ofstream out(Folder() / "goods.jat.json", std::ios::binary);
        out << "[";
        for (int i = 1; i <= records; ++i)
            out << "{\"id\": \"" << i << "\", \"name\": \"物品" << i
                << "\", \"rarelevel\": 2, \"job\": 0, \"x\": 1}" << (i < records ? "," : "");
        out << "]";
    }

    // Fills the attachment table with rows named A, B, C, ... through the page's own button.
    void AddItems(int count)
    {
        Find<QLineEdit>("编辑框15")->setText(QStringLiteral("10001"));
        for (int i = 0; i < count; ++i) {
            dialogs.typed.push_back(QString(QChar(u'A' + i)));
            Find<QPushButton>("按钮6")->click();
        }
    }

    std::vector<std::string> ItemRows()
    {
        std::vector<std::string> rows;
        auto* items = Find<ReportView>("超级列表框5");
        for (int row = 0; row < items->RowCount(); ++row)
            rows.push_back(
                (items->Cell(row, 0) + QLatin1Char(' ') + items->Cell(row, 1)).toStdString());
        return rows;
    }
};

TEST_F(MailOperator, AFullWidthCommaSeparatesReceivers)
{
    struct Case
    {
        const char* what;
        const char* receivers;
        const char* firstMessage;
    };
    const Case cases[] = {
        {"two ids", "11，12", "确定要给以下2个角色发送这封邮件吗？"},
        {"both commas", "11，12,13", "确定要给以下3个角色发送这封邮件吗？"},
        {"an empty piece after it", "11，", "请填写完整后再发送！"},
        {"the same id twice", "11，11", "收件角色ID有重复，请返回修改！"},
    };
    // The receivers are looked up before the question: they must be roles.
    ScratchDatabase db;
    db.Exec("INSERT INTO user_role (id, name) VALUES (11, '甲一'), (12, '乙二'), (13, '丙三')");
    StartedWithoutVersionCheck();
    ConnectThroughTheWindow(db.Params());
    ASSERT_TRUE(dialogs.messages.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.messages.clear();
        Find<QLineEdit>("编辑框10")->setText(QString::fromUtf8(c.receivers));
        // The question is answered No: nothing is sent.
        Find<QPushButton>("按钮5")->click();
        ASSERT_TRUE(WaitFor([&] { return !dialogs.messages.empty(); }));
        EXPECT_TRUE(dialogs.messages[0].text.contains(QString::fromUtf8(c.firstMessage)))
            << dialogs.messages[0].text.toStdString();
        EXPECT_EQ(dialogs.messages.size(), 1u);
    }
}

TEST_F(MailOperator, EnterSearchesAndTheStatusCountsWhatWasFound)
{
    struct Case
    {
        const char* what;
        const char* query;
        int lines; // in the box, a line saying what was left out included
        const char* status;
        const char* lastLine;
    };
    const Case cases[] = {
        {"three hits", "物品1000", 3, "查询状态：完成\n找到 3 条",
         "id：10001|物品10001|颜色：2|职业：0"},
        {"no hit", "物品0", 0, "查询状态：完成\n找到 0 条", ""},
        {"empty query", "", 0, "查询状态：完成\n找到 0 条", ""},
        {"one past the limit", "物品", 10001, "查询状态：完成\n找到 10001 条",
         "……只显示前 10000 条，其余 1 条未显示，请缩小查询范围。"},
    };
    WriteCatalogue(10001);
    MailPage& page = OnMailPage();
    auto* query = Find<QLineEdit>("编辑框19");
    auto* box = Find<QPlainTextEdit>("编辑框20");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        query->setText(QString::fromUtf8(c.query));
        QSignalSpy finished(&page, &MailPage::SearchFinished);
        QTest::keyClick(query, Qt::Key_Return);
        ASSERT_TRUE(WaitFor([&] { return finished.count() == 1; }, 20000));
        const QString text = box->toPlainText();
        const QStringList lines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
        EXPECT_EQ(lines.size(), c.lines);
        EXPECT_EQ(lines.isEmpty() ? QString() : lines.last(), QString::fromUtf8(c.lastLine));
        EXPECT_EQ(Find<QLabel>("标签22")->text(), QString::fromUtf8(c.status));
    }
}

TEST_F(MailOperator, TheResultBoxIsReadOnlyAndTabLeavesIt)
{
    OnMailPage();
    auto* box = Find<QPlainTextEdit>("编辑框20");
    const QString before = box->toPlainText();
    box->setFocus();
    ASSERT_TRUE(WaitFor([&] { return box->hasFocus(); }));
    QTest::keyClicks(box, QStringLiteral("x"));
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_EQ(box->toPlainText(), before);
    EXPECT_FALSE(box->hasFocus());
}

TEST_F(MailOperator, TheSelectedAttachmentRowCanBeRemoved)
{
    struct Case
    {
        const char* what;
        int rows;
        int selected;
        bool byKey; // the Delete key, or else the list's menu
        std::vector<std::string> left;
        int selectedAfter;
    };
    const Case cases[] = {
        {"the middle row by key", 3, 1, true, {"1 A", "2 C"}, 1},
        {"the last row by menu", 3, 2, false, {"1 A", "2 B"}, 1},
        {"the first row by menu", 2, 0, false, {"1 B"}, 0},
        {"the only row by key", 1, 0, true, {}, -1},
        {"nothing selected", 2, -1, true, {"1 A", "2 B"}, -1},
    };
    MailPage& page = OnMailPage();
    auto* items = Find<ReportView>("超级列表框5");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Find<QPushButton>("按钮9")->click();
        AddItems(c.rows);
        ASSERT_EQ(items->RowCount(), c.rows);
        items->SetSelection(c.selected);
        if (c.byKey) {
            items->setFocus();
            ASSERT_TRUE(WaitFor([&] { return items->hasFocus(); }));
            QTest::keyClick(items, Qt::Key_Delete);
        } else {
            emit items->RightClicked(items->mapToGlobal(QPoint(20, 30)));
            auto* menu = FindIn<QMenu>(page, "物品表菜单");
            ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
            auto* remove = FindIn<QAction>(page, "删除选中物品");
            ASSERT_TRUE(menu->actions().contains(remove));
            EXPECT_TRUE(remove->isEnabled());
            remove->trigger();
            menu->close();
        }
        EXPECT_EQ(ItemRows(), c.left);
        EXPECT_EQ(items->Selection(), c.selectedAfter);
    }
    // With no row selected the menu offers nothing to remove.
    items->SetSelection(-1);
    emit items->RightClicked(items->mapToGlobal(QPoint(20, 30)));
    EXPECT_FALSE(FindIn<QAction>(page, "删除选中物品")->isEnabled());
    FindIn<QMenu>(page, "物品表菜单")->close();
}

TEST_F(MailOperator, ANumberTooLargeNamesItsBox)
{
    struct Case
    {
        const char* what;
        const char* box;
        const char* button;
        const char* message;
    };
    const Case cases[] = {
        {"23-digit copper", "编辑框13", "按钮5", "铜钱的数值过大，请返回修改！"},
        {"yuanbao past 64 bits", "编辑框14", "按钮5", "非绑定元宝的数值过大，请返回修改！"},
        {"count past 32 bits", "编辑框16", "按钮6", "数量的数值过大，请返回修改！"},
        {"use level past 32 bits", "编辑框17", "按钮6", "使用等级的数值过大，请返回修改！"},
        {"days past 32 bits", "编辑框18", "按钮6", "使用期限的数值过大，请返回修改！"},
    };
    Started();
    Find<QLineEdit>("编辑框10")->setText(QStringLiteral("100004"));
    Find<QLineEdit>("编辑框15")->setText(QStringLiteral("10001"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.messages.clear();
        auto* box = Find<QLineEdit>(c.box);
        const QString before = box->text();
        QTest::keyClicks(box, QStringLiteral("12345678901234567890123"));
        Find<QPushButton>(c.button)->click();
        ASSERT_TRUE(WaitFor([&] { return !dialogs.messages.empty(); }));
        EXPECT_EQ(dialogs.messages[0].text, QString::fromUtf8(c.message));
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(dialogs.inputs.empty());
        box->setText(before);
    }
}

} // namespace
} // namespace mrvn::test
