#include "AppTestSupport.h"

#include "app/MailPage.h"
#include "app/ReportView.h"
#include "config/ConfigFile.h"

#include <QLineEdit>
#include <QPushButton>

#include <fstream>

namespace mrvn::test {
namespace {

using MailPageChecks = WindowTest;

TEST_F(MailPageChecks, NegativeItemNumbersAreRefusedBeforeTheNameIsAsked)
{
    Started();
    Find<QLineEdit>("编辑框15")->setText(QStringLiteral("10001"));
    const std::pair<const char*, const char*> boxes[] = {
        {"编辑框16", "-5"}, {"编辑框17", "-3"}, {"编辑框18", "-3"}};
    for (const auto& [name, value] : boxes) {
        SCOPED_TRACE(name);
        dialogs.messages.clear();
        auto* box = Find<QLineEdit>(name);
        const QString before = box->text();
        // Pasted or loaded: setText passes by the box's own check.
        box->setText(QString::fromUtf8(value));
        Find<QPushButton>("按钮6")->click();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("数值不能为负数，请返回修改！"));
        EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(dialogs.inputs.empty());
        box->setText(before);
    }
    EXPECT_EQ(FindIn<ReportView>(FindIn<MailPage>(Window(), "发放邮件"), "超级列表框5")->RowCount(),
              0);
}

TEST_F(MailPageChecks, DeletingARowWithoutAnArchiveOfItsOwnSaysNothingFalse)
{
    std::ofstream(ConfigPath(), std::ios::binary)
        << "[system]\r\nport=3307\r\n[itemlist]\r\nlist=A||System\r\n[A]\r\ntitle=a\r\n";
    Started();
    auto* list = Find<ReportView>("超级列表框6");
    // The empty piece is no archive and no row.
    ASSERT_EQ(list->RowCount(), 2);
    list->SetSelection(1);
    dialogs.answers = {MessageAnswer::Yes};
    ClickThenWaitUntilEnabled("按钮8");
    // Only the question: no write failure was reported, since there was none.
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("是否要删除该存档？"));
    ASSERT_EQ(list->RowCount(), 1);
    const ConfigFile file(ConfigPath());
    EXPECT_EQ(file.ReadValue("itemlist", "list"), "A");
    EXPECT_EQ(file.ReadValue("system", "port"), "3307");
    EXPECT_EQ(file.ReadValue("A", "title"), "a");
}

TEST_F(MailPageChecks, AFullArchiveListIsSaidAndNothingIsAdded)
{
    std::string list = "a0";
    for (int i = 1; list.size() < 10230; ++i)
        list += "|a" + std::to_string(i);
    {
        ConfigFile file(ConfigPath());
        ASSERT_TRUE(file.WriteValue("itemlist", "list", list));
    }
    Started();
    const int rows = Find<ReportView>("超级列表框6")->RowCount();
    dialogs.typed = {QStringLiteral("新的存档名称")};
    ClickThenWaitUntilEnabled("按钮7");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, QStringLiteral("存档数量已达上限，请先删除不用的存档！"));
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("检测消息"));
    EXPECT_EQ(Find<ReportView>("超级列表框6")->RowCount(), rows);
    EXPECT_TRUE(ConfigFile(ConfigPath()).ReadValue("itemlist", "list") == list);
}

} // namespace
} // namespace mrvn::test
