#include "AppTestSupport.h"
#include "CaseRows.h"
#include "ReachServers.h"
#include "TestDb.h"

#include "DemoData.h"
#include "db/ConnectFailure.h"
#include "db/ZoneConnection.h"
#include "secrets/MemoryKeychain.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>

namespace mrvn::test {
namespace {

// A zone of zones.ini reached through TLS or the tunnel: the window's questions, what it keeps
// in zones.ini, and what it says when a key or certificate does not match.
class ZoneReachWindow : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(demo::FillDemoData(m_db.Db(), {12, 1, 5}));
    }
    AppEnvironment Environment() override
    {
        AppEnvironment env = WindowTest::Environment();
        env.refreshIntervalMs = 300;
        return env;
    }

    // Starts the window on the one zone "远区" with these keys (beyond host, port, user, db).
    void StartOn(const ConnectParams& server, const std::string& keys,
                 const std::string& place = "file")
    {
        const std::string password =
            place == "file" ? "password=file\r\npsw=" + server.password : "password=" + place;
        StartWith("[zones]\r\norder=远区\r\ncurrent=远区\r\n[zone.远区]\r\nhost=" + server.host +
                  "\r\nport=" + std::to_string(server.port) + "\r\nuser=" + server.user +
                  "\r\n" + password + "\r\ndb=" + server.database + "\r\n" + keys);
    }
    void StartWith(const std::string& zonesIni)
    {
        CloseAndDestroyWindow();
        std::ofstream(Folder() / "zones.ini", std::ios::binary | std::ios::trunc) << zonesIni;
        dialogs.messages.clear();
        StartedWithoutVersionCheck();
    }

    std::string ZonesIni() const
    {
        std::ifstream in(Folder() / "zones.ini", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    QString Status() { return Find<QLabel>("标签4")->text(); }
    bool Connected() { return Status().startsWith(QString::fromUtf8(kStatusConnected)); }

    std::string SshKeys(const SshTestServer& ssh, const std::string& pinned,
                        const std::string& key = "id_ed25519", unsigned port = 0)
    {
        return "ssh_host=127.0.0.1\r\nssh_port=" + std::to_string(port ? port : ssh.port) +
               "\r\nssh_user=" + ssh.user + "\r\nssh_key=" + ssh.File(key) + "\r\n" +
               (pinned.empty() ? "" : "ssh_fp=" + pinned + "\r\n");
    }

    ScratchDatabase m_db;
};

// The first connect shows the fingerprint (否 the default); 是 keeps it and connects, 否
// keeps nothing and connects nothing; the next start asks no more.
TEST_F(ZoneReachWindow, AFirstConnectAsksForTheFingerprintAndKeepsItOnlyOnYes)
{
    const SshTestServer ssh = SshServer();
    const ConnectParams tls = TlsTestServer();
    struct Row
    {
        const char* what;
        ConnectParams server;
        std::string keys, key, seen;
        const char* question;
    };
    const Row rows[] = {
        {"TLS required", tls, "tls=required\r\n", "tls_fp=", TlsFile("server.sha256", true),
         kTlsFingerprintQuestion},
        {"SSH tunnel", m_db.Params(), SshKeys(ssh, ""), "ssh_fp=", ssh.hostFingerprint,
         kSshFingerprintQuestion},
    };
    ForEachRow(rows, &Row::what, [&](const Row& row) {
        for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
            StartOn(row.server, row.keys);
            dialogs.answers = {answer};
            Click("按钮1");
            ASSERT_EQ(dialogs.messages.size(), 1u) << Shown();
            const MessageRequest& asked = dialogs.messages[0];
            EXPECT_EQ(asked.text, QString::fromUtf8(row.question));
            EXPECT_EQ(asked.buttons, MessageButtons::YesNoDefaultNo);
            EXPECT_TRUE(asked.informative.contains(QString::fromStdString(row.seen)));
            const bool yes = answer == MessageAnswer::Yes;
            // 是's write lands off the window's thread (waited for below); 否 writes nothing.
            if (!yes) {
                EXPECT_EQ(ZonesIni().find(row.key), std::string::npos) << ZonesIni();
            }
            EXPECT_EQ(Connected(), yes) << Status().toStdString();
        }
        // The label says how: the TLS version, or nothing for a tunnel (encrypted by SSH).
        EXPECT_EQ(Status().contains(QStringLiteral("TLSv1.")), row.question == kTlsFingerprintQuestion)
            << Status().toStdString();
        EXPECT_FALSE(Status().contains(QString::fromUtf8(kStatusUnencrypted)));
        // Kept: the next start connects without a question.
        ASSERT_TRUE(WaitFor([&] { return ZonesIni().find(row.key) != std::string::npos; }));
        StartWith(ZonesIni());
        Click("按钮1");
        EXPECT_TRUE(WaitFor([&] { return Connected(); })) << Shown();
        EXPECT_TRUE(dialogs.messages.empty()) << Shown();
    });
}

// Each refusal of TLS or the tunnel says its own reason through the window; none sends the
// operator to parameters that were right, and a changed key or certificate names both.
TEST_F(ZoneReachWindow, EachTlsAndSshRefusalSaysItsOwnReason)
{
    const SshTestServer ssh = SshServer();
    const ConnectParams tls = TlsTestServer();
    FakeMysql8 noRsaKey(FakeMysql8::Refusal::NoRsaKeyForPlainLogin);
    FakeMysql8 secureOnly(FakeMysql8::Refusal::SecureTransportRequired);
    const ConnectParams fake = m_db.Params();
    const std::string otherCert = TlsFile("other.sha256", true);
    const std::string ca = "tls=verify\r\ntls_ca=" + TlsFile("ca.pem") + "\r\n";
    ConnectParams tlsByName = tls;
    tlsByName.host = "localhost";
    struct Row
    {
        const char* what;
        ConnectParams server;
        std::string keys;
        ConnectFailure failure;
        std::string seen, pinned; // a changed key's two fingerprints, both named
    };
    ConnectParams mysql8 = fake;
    mysql8.port = noRsaKey.Port();
    ConnectParams mysql8Tls = fake;
    mysql8Tls.port = secureOnly.Port();
    const Row rows[] = {
        {"TLS asked of a plain server", m_db.Params(), "tls=required\r\n",
         ConnectFailure::TlsNotOffered},
        {"certificate changed", tls, "tls=required\r\ntls_fp=" + otherCert + "\r\n",
         ConnectFailure::CertificateChanged, TlsFile("server.sha256", true), otherCert},
        {"certificate of no trusted CA", tls, "tls=verify\r\n",
         ConnectFailure::CertificateUntrusted},
        {"certificate for another name", tlsByName, ca, ConnectFailure::CertificateNameMismatch},
        {"CA file unreadable", tls, ca.substr(0, ca.size() - 2) + ".missing\r\n",
         ConnectFailure::TlsCaFileUnreadable},
        {"2061 over plain TCP", mysql8, "", ConnectFailure::SecureLoginNeeded},
        {"server takes TLS only", mysql8Tls, "", ConnectFailure::TlsRequiredByServer},
        {"host key changed", m_db.Params(), SshKeys(ssh, ssh.otherFingerprint),
         ConnectFailure::SshHostKeyChanged, ssh.hostFingerprint, ssh.otherFingerprint},
        {"SSH server unreachable", m_db.Params(),
         SshKeys(ssh, ssh.hostFingerprint, "id_ed25519", 1), ConnectFailure::SshUnreachable},
        {"SSH login refused", m_db.Params(), SshKeys(ssh, ssh.hostFingerprint, "other_ed25519"),
         ConnectFailure::SshLoginRefused},
    };
    std::set<QString> texts;
    ForEachRow(rows, &Row::what, [&](const Row& row) {
        StartOn(row.server, row.keys);
        Click("按钮1");
        ASSERT_EQ(dialogs.messages.size(), 1u) << Shown();
        const MessageRequest& said = dialogs.messages[0];
        EXPECT_EQ(said.text, QString::fromUtf8(ConnectFailureText(row.failure))) << Shown();
        EXPECT_FALSE(said.text.contains(QStringLiteral("连接参数")));
        for (const std::string& fingerprint : {row.seen, row.pinned})
            EXPECT_TRUE(said.informative.contains(QString::fromStdString(fingerprint)));
        EXPECT_FALSE(Connected());
        texts.insert(said.text);
    });
    EXPECT_EQ(texts.size(), std::size(rows));
}

// The tunnel's secrets are asked when needed and kept only for the run: an encrypted key's
// passphrase (again after a wrong one), the SSH password of a zone without a key file (again
// after a refusal).
TEST_F(ZoneReachWindow, TheTunnelsSecretsAreAskedWhenNeeded)
{
    const SshTestServer ssh = SshServer();
    struct Row
    {
        const char* what;
        std::string keys;
        std::deque<std::optional<QString>> secrets;
        std::size_t asked; // over one press, or two when it does not connect
        bool connects;
    };
    const QString passphrase = QString::fromStdString(ssh.keyPassphrase);
    const Row rows[] = {
        {"passphrase, wrong then right", SshKeys(ssh, ssh.hostFingerprint, "id_ed25519_pass"),
         {QStringLiteral("wrong"), passphrase}, 2, true},
        {"passphrase cancelled", SshKeys(ssh, ssh.hostFingerprint, "id_ed25519_pass"),
         {std::nullopt}, 2, false},
        {"SSH password refused, asked again",
         "ssh_host=127.0.0.1\r\nssh_port=" + std::to_string(ssh.port) + "\r\nssh_user=" +
             ssh.user + "\r\nssh_fp=" + ssh.hostFingerprint + "\r\n",
         {QStringLiteral("no"), std::nullopt}, 2, false},
    };
    ForEachRow(rows, &Row::what, [&](const Row& row) {
        StartOn(m_db.Params(), row.keys);
        dialogs.secrets = row.secrets;
        dialogs.secretsAsked.clear();
        Click("按钮1");
        if (!row.connects)
            Click("按钮1");
        EXPECT_EQ(dialogs.secretsAsked.size(), row.asked);
        EXPECT_EQ(Connected(), row.connects) << Shown();
    });
}

#ifndef _WIN32
// A host key that changes under a running connection (another sshd on the same port): the
// tick that meets it stops the ticks and says so once, naming both fingerprints.
TEST_F(ZoneReachWindow, ATickThatMeetsAChangedHostKeyStopsTheTicks)
{
    const char* shared = std::getenv("MRVN_TEST_SSH_DIR");
    ASSERT_NE(shared, nullptr) << "run it through ctest";
    const std::string first = std::string(shared) + "-tick-a";
    const std::string second = std::string(shared) + "-tick-b";
    ASSERT_EQ(RunScript("ssh-server.sh start " + first), 0);
    const std::shared_ptr<void> stop(nullptr, [=](void*) {
        RunScript("ssh-server.sh stop " + first);
        RunScript("ssh-server.sh stop " + second);
    });
    const SshTestServer ssh = SshServer(first);
    StartOn(m_db.Params(), SshKeys(ssh, ssh.hostFingerprint));
    Click("按钮1");
    ASSERT_TRUE(Connected()) << Shown();
    ASSERT_EQ(RunScript("ssh-server.sh stop " + first), 0);
    ASSERT_EQ(RunScript("ssh-server.sh start " + second + " " + std::to_string(ssh.port)), 0);
    ASSERT_TRUE(WaitFor([&] { return !dialogs.messages.empty(); }, 30000));
    const MessageRequest& said = dialogs.messages[0];
    EXPECT_EQ(said.text, QString::fromUtf8(ConnectFailureText(ConnectFailure::SshHostKeyChanged)));
    for (const std::string& fingerprint : {ssh.hostFingerprint, SshServer(second).hostFingerprint})
        EXPECT_TRUE(said.informative.contains(QString::fromStdString(fingerprint)));
    EXPECT_FALSE(Find<QTimer>("时钟1")->isActive());
    EXPECT_TRUE(WaitIdle());
    EXPECT_EQ(dialogs.messages.size(), 1u) << Shown();
}
#endif

// "管理区服" edits the selected zone's way in: each control changes zones.ini at once.
TEST_F(ZoneReachWindow, TheDialogEditsTlsTheTunnelAndThePasswordsPlace)
{
    StartOn(m_db.Params(), "tls=required\r\ntls_fp=AB:CD\r\nssh_host=gate\r\nssh_fp=SHA256:x\r\n");
    const auto type = [](const char* box, const char* text) {
        return [box, text](QWidget* dialog) {
            auto* edit = FindIn<QLineEdit>(dialog, box);
            edit->setText(QString::fromUtf8(text));
            emit edit->editingFinished();
        };
    };
    const auto choose = [](const char* combo, int index) {
        return [combo, index](QWidget* dialog) {
            emit FindIn<QComboBox>(dialog, combo)->activated(index);
        };
    };
    struct Row
    {
        const char* what;
        std::function<void(QWidget*)> change;
        std::deque<MessageAnswer> answers;
        std::vector<std::string> present, absent;
    };
    const Row rows[] = {
        {"SSH user", type("区服SSH用户框", "op"), {}, {"ssh_user=op", "ssh_fp=SHA256:x"}, {}},
        {"another SSH host forgets its host key", type("区服SSH主机框", "gate2"), {},
         {"ssh_host=gate2"}, {"ssh_fp="}},
        {"key file picked",
         [](QWidget* dialog) { FindIn<QPushButton>(dialog, "按钮选择SSH密钥")->click(); }, {},
         {"ssh_key=/keys/id_ed25519"}, {}},
        {"verify with a CA file",
         [&](QWidget* dialog) {
             choose("区服TLS框", 2)(dialog);
             FindIn<QPushButton>(dialog, "按钮选择CA文件")->click();
         },
         {}, {"tls=verify", "tls_ca=/keys/ca.pem"}, {}},
        {"fingerprints forgotten on 是",
         [](QWidget* dialog) { FindIn<QPushButton>(dialog, "按钮清除指纹")->click(); },
         {MessageAnswer::Yes}, {}, {"tls_fp="}},
        {"ask drops the plain password", choose("区服密码方式框", 2), {},
         {"password=ask"}, {"psw="}},
        {"file refused on 否", choose("区服密码方式框", 1), {MessageAnswer::No},
         {"password=ask"}, {}},
    };
    dialogs.openPaths = {QStringLiteral("/keys/id_ed25519"), QStringLiteral("/keys/ca.pem")};
    ForEachRow(rows, &Row::what, [&](const Row& row) {
        dialogs.answers = row.answers;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            row.change(dialog);
            dialog->close();
        });
        Window().ManageZones();
        const std::string file = ZonesIni();
        for (const std::string& key : row.present)
            EXPECT_NE(file.find(key), std::string::npos) << key << "\n" << file;
        for (const std::string& key : row.absent)
            EXPECT_EQ(file.find(key), std::string::npos) << key << "\n" << file;
    });
    // The zone in use connects with what the dialog left: asked for its password now.
    dialogs.secrets = {std::nullopt};
    Click("按钮1");
    EXPECT_EQ(dialogs.secretsAsked.size(), 1u);
}

// "未加密" is for a connection that leaves this machine.
TEST(ZoneReach, OnlyAHostBeyondThisMachineCountsAsLeavingIt)
{
    const std::pair<std::string, bool> hosts[] = {
        {"", false}, {"localhost", false}, {"127.0.0.1", false}, {"127.1.2.3", false},
        {"::1", false}, {"10.0.0.5", true}, {"db.example.com", true}, {"1270.0.0.1", true},
    };
    ForEachPair(hosts, [](const std::string& host, bool leaves) {
        EXPECT_EQ(LeavesThisMachine(host), leaves);
    });
}

// A login with a password of its own, so that a search of the folder finds it only where
// it was written.
class ZonePasswordWindow : public ZoneReachWindow
{
protected:
    void SetUp() override
    {
        ZoneReachWindow::SetUp();
        // The database name's end tells the tests apart (it is shorter on Windows).
        const std::string name = m_db.Name();
        m_user = "kc" + name.substr(name.size() > 8 ? name.size() - 8 : 0);
        m_db.Exec("GRANT ALL ON `" + m_db.Name() + "`.* TO '" + m_user + "'@'%' IDENTIFIED BY '" +
                  kSecret + "'");
        m_login = m_db.Params();
        m_login.user = m_user;
        m_login.password = kSecret;
    }
    void TearDown() override
    {
        ZoneReachWindow::TearDown();
        m_db.Exec("DROP USER '" + m_user + "'@'%'");
    }
    AppEnvironment Environment() override
    {
        AppEnvironment env = ZoneReachWindow::Environment();
        env.keychain = m_keychain;
        return env;
    }
    // Every file in the folder that holds the password.
    std::vector<std::string> FilesHoldingTheSecret() const
    {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Folder())) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            if (bytes.find(kSecret) != std::string::npos)
                found.push_back(entry.path().filename().string());
        }
        return found;
    }

    static constexpr char kSecret[] = "Kc-8431-secret";
    std::string m_user;
    ConnectParams m_login;
    std::shared_ptr<MemoryKeychain> m_keychain = std::make_shared<MemoryKeychain>();
};

// keychain and ask zones: the password comes from the keychain or is asked (and why); a
// password typed for a keychain zone goes into the keychain; no file holds it.
TEST_F(ZonePasswordWindow, AKeychainOrAskZoneTakesItsPasswordWithoutAFile)
{
    const SecretName name{m_login.host, m_login.port, m_login.user};
    struct Row
    {
        const char* what;
        const char* place;
        bool available, stored;
        const char* prompt; // nullptr: nothing asked
        bool keptAfter;
    };
    const Row rows[] = {
        {"keychain holds it", "keychain", true, true, nullptr, true},
        {"keychain lacks it", "keychain", true, false, "系统钥匙串中还没有", true},
        {"no keychain answers", "keychain", false, false, "系统钥匙串不可用", false},
        {"asked every time", "ask", true, false, "每次连接时询问", false},
    };
    ForEachRow(rows, &Row::what, [&](const Row& row) {
        m_keychain = std::make_shared<MemoryKeychain>(true);
        if (row.stored)
            m_keychain->Write(name, kSecret, [](KeychainResult) {});
        m_keychain->SetAvailable(row.available);
        StartOn(m_login, "", row.place);
        dialogs.secretsAsked.clear();
        dialogs.secrets = {QString::fromUtf8(kSecret)};
        Find<QPushButton>("按钮1")->click();
        ASSERT_TRUE(WaitFor([&] { return Connected(); }, 30000)) << Shown();
        ASSERT_EQ(dialogs.secretsAsked.size(), row.prompt ? 1u : 0u);
        if (row.prompt) {
            EXPECT_TRUE(dialogs.secretsAsked[0].contains(QString::fromUtf8(row.prompt)))
                << dialogs.secretsAsked[0].toStdString();
        }
        m_keychain->SetAvailable(true);
        EXPECT_TRUE(WaitFor([&] { return m_keychain->Entries().count(name.Key()) == (row.keptAfter ? 1u : 0u); }));
        CloseAndDestroyWindow();
        EXPECT_EQ(FilesHoldingTheSecret(), std::vector<std::string>{});
    });
}

// "记住密码" for a zone whose password is in the files: into the keychain, then out of
// zones.ini and config.dat; a keychain that refuses leaves both files as they were.
TEST_F(ZonePasswordWindow, MovingAPlainPasswordIntoTheKeychainTakesItOutOfTheFiles)
{
    for (const bool available : {false, true}) {
        SCOPED_TRACE(available ? "keychain answers" : "no keychain");
        m_keychain = std::make_shared<MemoryKeychain>(available);
        StartOn(m_login, "");
        Click("按钮1");
        ASSERT_TRUE(WaitFor([&] { return Connected() && FilesHoldingTheSecret().size() == 2; }))
            << Shown();
        dialogs.answers = {MessageAnswer::Yes};
        dialogs.messages.clear();
        QTimer::singleShot(0, [&] {
            auto* place = FindIn<QComboBox>(QApplication::activeModalWidget(), "区服密码方式框");
            place->setCurrentIndex(static_cast<int>(PasswordPlace::Keychain));
            emit place->activated(static_cast<int>(PasswordPlace::Keychain));
            WaitFor([&] { return !dialogs.messages.empty() && (available ? FilesHoldingTheSecret().empty() : dialogs.messages.size() == 2); });
            QApplication::activeModalWidget()->close();
        });
        Window().ManageZones();
        ASSERT_FALSE(dialogs.messages.empty());
        EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("旧版本")));
        EXPECT_EQ(m_keychain->Entries().size(), available ? 1u : 0u);
        EXPECT_EQ(FilesHoldingTheSecret().size(), available ? 0u : 2u);
    }
}

// Pictures, into build/screenshots, of "管理区服" with a tunnel and TLS set and of the first
// connect's fingerprint question, as the window shows them.
TEST_F(ZoneReachWindow, PicturesOfTheReachSettingsAndTheFingerprintQuestion)
{
    const QString folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../screenshots");
    ASSERT_TRUE(QDir().mkpath(folder));
    const SshTestServer ssh = SshServer();
    StartOn(m_db.Params(), "tls=verify\r\ntls_ca=/etc/mrvn/ca.pem\r\n" + SshKeys(ssh, ""),
            "keychain");
    Window().show();
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        EXPECT_TRUE(dialog->grab().save(folder + QStringLiteral("/zones-reach.png")));
        dialog->close();
    });
    Window().ManageZones();
    StartOn(m_db.Params(), SshKeys(ssh, ""));
    Click("按钮1");
    ASSERT_FALSE(dialogs.messages.empty()) << Shown();
    {
        QMessageBox box(&Window());
        PrepareMessageBox(box, dialogs.messages[0]);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        EXPECT_TRUE(box.grab().save(folder + QStringLiteral("/fingerprint-question.png")));
    }
    // The status label with the TLS version, on the window at its designed size.
    StartOn(TlsTestServer(), "tls=required\r\ntls_fp=" + TlsFile("server.sha256", true) + "\r\n");
    Window().show();
    Click("按钮1");
    ASSERT_TRUE(WaitFor([&] { return Connected(); })) << Shown();
    EXPECT_TRUE(Window().grab().save(folder + QStringLiteral("/status-tls.png")));
    auto* label = Find<QLabel>("标签4");
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width())
        << Status().toStdString();
}

} // namespace
} // namespace mrvn::test
