#include "secrets/Keychain.h"
#include "secrets/MemoryKeychain.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace mrvn {
namespace {

// How this run reaches a password store: "ready" (scripts/with-keychain.sh started one, or
// Windows' Credential Manager), "none" (the run took the session bus away), or neither.
std::string Mode()
{
#ifdef _WIN32
    return "ready";
#else
    const char* mode = std::getenv("MRVN_KEYCHAIN");
    return mode ? mode : "";
#endif
}

#define MRVN_SKIP_UNLESS_KEYCHAIN(mode)                                                            \
    if (Mode() != mode)                                                                            \
    GTEST_SKIP() << "no password store for this run: "                                             \
                 << (std::getenv("MRVN_KEYCHAIN_SKIP") ? std::getenv("MRVN_KEYCHAIN_SKIP")         \
                                                       : "run it through ctest")

// Waits for the store's answer to one call (30 s at most).
KeychainResult Ask(const std::function<void(Keychain::Done)>& call)
{
    KeychainResult result{KeychainStatus::Failed, {}, "no answer within 30 s"};
    QEventLoop loop;
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    call([&](KeychainResult answer) {
        result = std::move(answer);
        loop.quit();
    });
    loop.exec();
    return result;
}

// Files under `folder` written since `since` that hold `bytes`.
QStringList FilesHolding(const QString& folder, const QByteArray& bytes, const QDateTime& since)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).lastModified() < since)
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes))
            found << path;
    }
    return found;
}

TEST(Keychain, ThePasswordIsInNoFileAndGoneAfterRemove)
{
    MRVN_SKIP_UNLESS_KEYCHAIN("ready");
    const QDateTime start = QDateTime::currentDateTime().addSecs(-2);
    auto keychain = MakeSystemKeychain();
    const SecretName name{"db.example.test", 3306,
                          "root" + std::to_string(QCoreApplication::applicationPid())};
    const std::string password =
        "口令-" + std::to_string(QRandomGenerator::global()->generate64()) + "-§";

    ASSERT_EQ(Ask([&](auto done) { keychain->Write(name, password, done); }).status,
              KeychainStatus::Done);
    const KeychainResult read = Ask([&](auto done) { keychain->Read(name, done); });
    EXPECT_EQ(read.status, KeychainStatus::Done) << read.reason;
    EXPECT_EQ(read.password, password);

    const QByteArray bytes = QByteArray::fromStdString(password);
    QStringList folders{QCoreApplication::applicationDirPath()};
    if (const char* home = std::getenv("MRVN_KEYCHAIN_HOME"))
        folders << QString::fromLocal8Bit(home); // where the keyring keeps its files
    for (const QString& folder : folders)
        EXPECT_EQ(FilesHolding(folder, bytes, start), QStringList()) << folder.toStdString();

    EXPECT_EQ(Ask([&](auto done) { keychain->Remove(name, done); }).status, KeychainStatus::Done);
    EXPECT_EQ(Ask([&](auto done) { keychain->Read(name, done); }).status, KeychainStatus::NotFound);
    // Removing what is not there is no failure on any platform.
    EXPECT_EQ(Ask([&](auto done) { keychain->Remove(name, done); }).status, KeychainStatus::Done);
    EXPECT_EQ(Ask([&](auto done) { CheckKeychainAnswers(*keychain, done); }).status,
              KeychainStatus::Done);
}

TEST(Keychain, WhenNoStoreAnswersItSaysWhy)
{
    MRVN_SKIP_UNLESS_KEYCHAIN("none");
    auto keychain = MakeSystemKeychain();
    const KeychainResult check = Ask([&](auto done) { CheckKeychainAnswers(*keychain, done); });
    EXPECT_EQ(check.status, KeychainStatus::Unavailable);
    EXPECT_FALSE(check.reason.empty());
    const SecretName name{"db.example.test", 3306, "root"};
    EXPECT_EQ(Ask([&](auto done) { keychain->Write(name, "x", done); }).status,
              KeychainStatus::Unavailable);
}

// A store that never answers is given up at the deadline; one that answers is heard.
TEST(Keychain, AReadWithADeadlineEndsWithAnAnswerOrUnavailable)
{
    MemoryKeychain keychain;
    const SecretName name{"db.example.test", 3306, "root"};
    keychain.Write(name, "x", [](KeychainResult) {});
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "answers");
        keychain.SetSilent(silent);
        const KeychainResult read =
            Ask([&](auto done) { ReadWithin(keychain, name, silent ? 50 : 20000, done); });
        EXPECT_EQ(read.status, silent ? KeychainStatus::Unavailable : KeychainStatus::Done);
        EXPECT_EQ(read.password, silent ? "" : "x");
        EXPECT_EQ(read.reason.find("秒内没有应答") != std::string::npos, silent) << read.reason;
    }
}

} // namespace
} // namespace mrvn
