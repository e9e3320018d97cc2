#pragma once

#include "EventWait.h"
#include "ScriptedDialogs.h"
#include "app/Application.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace mrvn::test {

// Processes events until `done` holds or the time is up; returns `done()`.
inline bool WaitFor(const std::function<bool()>& done, int milliseconds = 5000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        ProcessEventsOrWait(5);
    return done();
}

// The child of `root` with this object name (a control, a page, a timer, an action); fails the
// test when there is none.
template <typename T> T* FindIn(const QObject& root, const char* name)
{
    T* child = root.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}
template <typename T> T* FindIn(const QObject* root, const char* name)
{
    return FindIn<T>(*root, name);
}

// A main window over a fresh temporary folder with scripted dialogs; nothing is shown.
class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }
    void TearDown() override
    {
        while (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        m_window.reset();
    }

    std::filesystem::path Folder() const { return m_folder.path().toStdString(); }
    std::filesystem::path ConfigPath() const { return Folder() / "config.dat"; }

    virtual AppEnvironment Environment()
    {
        AppEnvironment env(dialogs);
        env.configPath = ConfigPath();
        env.cataloguePath = Folder() / "goods.jat.json";
        env.auditLogPath = Folder() / "mrvn-audit.log";
        // Nothing listens on the discard port of the loopback: the page is unreadable.
        env.versionAddress = QStringLiteral("http://127.0.0.1:9/version.html");
        env.versionTimeoutMs = 2000;
        // Size, position and page of the window stay in the test's own folder.
        env.windowStatePath = Folder() / "window.ini";
        env.startupDialog = [this] {
            ++startupShown;
            return startupAnswer;
        };
        return env;
    }

    // The window as the program builds it (CreateMainWindow), its start-up steps not yet run.
    MainWindow& Window()
    {
        if (!m_window)
            m_window = CreateMainWindow(Environment());
        return *m_window;
    }

    // Creates the window and runs its start-up steps.
    MainWindow& Started()
    {
        EXPECT_TRUE(Window().OnMainWindowCreated());
        return *m_window;
    }
    // Started, without the version check a second later (its unreadable page would ask a
    // question in the middle of a longer test, and the unanswered question's No closes the
    // window): what every test that connects or runs long on a loaded machine uses.
    MainWindow& StartedWithoutVersionCheck()
    {
        Started();
        FindIn<QTimer>(*m_window, "时钟2")->stop();
        return *m_window;
    }

    template <typename T> T* Find(const char* name) { return FindIn<T>(Window(), name); }

    // Closes the window as the operator does and destroys it, as the program does on exit
    // (nothing without a window).
    void CloseAndDestroyWindow()
    {
        if (!m_window)
            return;
        m_window->close();
        m_window.reset();
    }

    // Types the connection parameters into the common page's boxes, as the operator does.
    void FillConnectionBoxes(const ConnectParams& params)
    {
        Find<QLineEdit>("编辑框2")->setText(QString::fromStdString(params.host));
        Find<QLineEdit>("编辑框3")->setText(QString::number(params.port));
        Find<QLineEdit>("编辑框4")->setText(QString::fromStdString(params.user));
        Find<QLineEdit>("编辑框5")->setText(QString::fromStdString(params.password));
        Find<QLineEdit>("编辑框6")->setText(QString::fromStdString(params.database));
    }
    // Types the parameters, presses "连接mysql" and waits for the connect and what follows it.
    void ConnectThroughTheWindow(const ConnectParams& params)
    {
        FillConnectionBoxes(params);
        Click("按钮1");
    }

    // Waits until the window's database work has ended and its results have been handled;
    // false when it is still busy after `milliseconds`.
    bool WaitIdle(int milliseconds = 60000)
    {
        return WaitFor([this] { return !Window().DatabaseBusy(); }, milliseconds);
    }
    // Presses a button as the operator does and waits for the database work it started.
    void Click(const char* button)
    {
        Find<QPushButton>(button)->click();
        EXPECT_TRUE(WaitIdle()) << button;
    }

    // Presses a button whose work runs off the window's thread (a config.dat write) and waits
    // until it may be pressed again: the work and what follows it are done.
    void ClickThenWaitUntilEnabled(const char* button)
    {
        auto* pressed = Find<QPushButton>(button);
        pressed->click();
        EXPECT_TRUE(WaitFor([pressed] { return pressed->isEnabled(); })) << button;
    }

    // Every message shown so far, for a failing check to name.
    std::string Shown() const
    {
        std::string all;
        for (const MessageRequest& shown : dialogs.messages)
            all += "[" + shown.text.toStdString() + " | " + shown.details.toStdString() + "] ";
        return all;
    }

    ScriptedDialogs dialogs;
    bool startupAnswer = true;
    int startupShown = 0;

private:
    QTemporaryDir m_folder;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace mrvn::test
