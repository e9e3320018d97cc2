#include "AppTestSupport.h"

#include "Catalogue.h"
#include "app/MailPage.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QValidator>

namespace mrvn::test {
namespace {

class MailKeyboard : public WindowTest
{
protected:
    // The started window, shown and active, on its mail page.
    MainWindow& OnMailPage()
    {
        MainWindow& window = Started();
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        Find<QTabWidget>("选择夹1")->setCurrentIndex(1);
        return window;
    }
};

TEST_F(MailKeyboard, TabInTheContentMovesOnAndTypesNothing)
{
    OnMailPage();
    auto* content = Find<QPlainTextEdit>("编辑框12");
    content->setFocus();
    ASSERT_TRUE(WaitFor([&] { return content->hasFocus(); }));
    const QString before = content->toPlainText();
    QTest::keyClick(content, Qt::Key_Tab);
    EXPECT_EQ(content->toPlainText(), before);
    EXPECT_FALSE(content->toPlainText().contains(QLatin1Char('\t')));
    EXPECT_FALSE(content->hasFocus());
    // Shift+Tab comes back to it.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_TRUE(content->hasFocus());
}

TEST_F(MailKeyboard, AfterASearchTheFocusIsInTheQueryBox)
{
    ASSERT_TRUE(catalogue::WriteCatalogue(Folder() / "goods.jat.json", 2000));
    MainWindow& window = OnMailPage();
    auto* query = Find<QLineEdit>("编辑框19");
    auto* button = Find<QPushButton>("按钮11");
    auto* copper = Find<QLineEdit>("编辑框13");
    query->setText(QString::fromStdString(catalogue::RecordId(7)));
    QSignalSpy finished(FindIn<MailPage>(window, "发放邮件"), &MailPage::SearchFinished);
    // Tab from the query box to the button, and Space presses it, as the operator does.
    query->setFocus();
    ASSERT_TRUE(WaitFor([&] { return query->hasFocus(); }));
    QTest::keyClick(query, Qt::Key_Tab);
    ASSERT_TRUE(button->hasFocus());
    QTest::keyClick(button, Qt::Key_Space);
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(query->hasFocus());
    EXPECT_FALSE(copper->hasFocus());
    EXPECT_FALSE(copper->hasSelectedText());
    EXPECT_EQ(copper->text(), QStringLiteral("0"));
}

TEST_F(MailKeyboard, IntegerBoxesTakeNoMinusSign)
{
    OnMailPage();
    const char* const boxes[] = {"编辑框1",  "编辑框3",  "编辑框13", "编辑框14",
                                 "编辑框16", "编辑框17", "编辑框18"};
    for (const char* name : boxes) {
        SCOPED_TRACE(name);
        auto* box = Find<QLineEdit>(name);
        ASSERT_NE(box->validator(), nullptr);
        box->clear();
        QTest::keyClicks(box, QStringLiteral("-100"));
        EXPECT_EQ(box->text(), QStringLiteral("100"));
        QString pasted = QStringLiteral("-5");
        int position = 0;
        EXPECT_EQ(box->validator()->validate(pasted, position), QValidator::Invalid);
        QString digits = QStringLiteral("42");
        EXPECT_EQ(box->validator()->validate(digits, position), QValidator::Acceptable);
    }
    // The plain boxes keep taking any text.
    auto* itemId = Find<QLineEdit>("编辑框15");
    QTest::keyClicks(itemId, QStringLiteral("-7"));
    EXPECT_EQ(itemId->text(), QStringLiteral("-7"));
}

} // namespace
} // namespace mrvn::test
