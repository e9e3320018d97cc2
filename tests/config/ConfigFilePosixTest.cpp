// Checks that need POSIX: file modes, processes that drop privileges or hit a file size
// limit, FIFOs, devices and symbolic links. Windows has none of these in this form.
#include "CaseRows.h"
#include "ConfigFileTestSupport.h"
#include "config/ConfigFile.h"
#include "config/Zones.h"
#include "text/TextUtil.h"

#include <functional>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mrvn {
namespace {

namespace fs = std::filesystem;

// Runs `body` in a child process and returns its result. As root the child first becomes
// an ordinary user, so directory permissions bind it as they bind any operator.
template <typename Body> bool InChild(Body body, bool unprivileged)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (unprivileged && geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
                _exit(3);
        }
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 3) << "could not drop privileges";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class ConfigFilePosixTest : public ConfigFileTest
{
protected:
    void SetUp() override
    {
        ConfigFileTest::SetUp();
        chmod(m_dir.c_str(), 0755);
    }
    void TearDown() override { chmod(m_dir.c_str(), 0755); }
};

TEST_F(ConfigFilePosixTest, NewFileIsPrivateAndExistingFileKeepsItsMode)
{
    ConfigFile created(m_dir / "config.dat");
    ASSERT_TRUE(SaveConnectionSettings(created, ConnectionSettings{}));
    EXPECT_EQ(fs::status(created.Path()).permissions() & fs::perms::mask, fs::perms(0600));
    EXPECT_EQ(ReadBytes(created.Path()),
              "[system]\r\nip=127.0.0.1\r\nport=3306\r\nuser=root\r\npsw=739215\r\ndb=mrvn\r\n");

    chmod(created.Path().c_str(), 0644);
    ASSERT_TRUE(created.WriteValue("system", "ip", "10.1.1.1"));
    EXPECT_EQ(fs::status(created.Path()).permissions() & fs::perms::mask, fs::perms(0644));

    // zones.ini holds passwords as config.dat does, and is made the same way.
    ZonesFile zones(m_dir / "zones.ini", created.Path());
    ASSERT_EQ(zones.Update([](ZoneList&) { return true; }), ZonesFile::Written::Yes);
    EXPECT_EQ(fs::status(zones.Path()).permissions() & fs::perms::mask, fs::perms(0600));
}

TEST_F(ConfigFilePosixTest, FailedWritesLeaveTheOldFileAndNoTemporaryFile)
{
    const fs::path path = Fixture("basic.dat");
    chmod(path.c_str(), 0644);
    const std::string before = ReadBytes(path);

    // A read-only directory: the temporary file cannot be made.
    chmod(m_dir.c_str(), 0555);
    EXPECT_FALSE(InChild(
        [&] {
            ConfigFile file(path);
            return file.WriteValue("system", "ip", "1.2.3.4");
        },
        true));
    chmod(m_dir.c_str(), 0755);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"config.dat"});

    // A disk that fills up while the temporary file is written, before the rename.
    EXPECT_FALSE(InChild(
        [&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{100, 100};
            setrlimit(RLIMIT_FSIZE, &limit);
            ConfigFile file(path);
            return file.WriteValue("system", "ip", "1.2.3.4");
        },
        false));
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"config.dat"});
}

// Runs `body` in a child process that is killed after `seconds`: a call that blocks fails
// the test instead of hanging the run.
template <typename Body> bool FinishesInTime(Body body, unsigned seconds)
{
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(seconds);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A FIFO or a device of that name is refused at once (reading a FIFO used to wait for a
// writer forever, freezing start-up), and nothing is put in its place.
TEST_F(ConfigFilePosixTest, FifoAndDeviceNamedConfigDatAreRefusedWithoutBlocking)
{
    const fs::path path = m_dir / "config.dat";
    const struct
    {
        const char* name;
        std::function<void()> make;
        fs::file_type type;
    } cases[] = {
        {"fifo", [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }, fs::file_type::fifo},
        {"link to a device", [&] { fs::create_symlink("/dev/null", path); },
         fs::file_type::character},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        c.make();
        EXPECT_TRUE(FinishesInTime(
            [&] {
                const ConfigFile file(path);
                return file.ReadValue("system", "ip", "dflt") == "dflt" &&
                       LoadConnectionSettings(file) == ConnectionSettings{};
            },
            5));
        EXPECT_TRUE(FinishesInTime(
            [&] {
                ConfigFile file(path);
                return !file.WriteValue("system", "ip", "1.2.3.4");
            },
            5));
        EXPECT_EQ(fs::status(path).type(), c.type);
        EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"config.dat"});
    }
}

// A config.dat that is a symbolic link (say, to a shared folder) stays a link: the write
// replaces its target, atomically, in the target's folder.
TEST_F(ConfigFilePosixTest, ASymbolicLinkIsWrittenThroughToItsTarget)
{
    const test::TempDir shared;
    const fs::path target = shared.Path() / "real.dat";
    fs::copy_file(fs::path(MRVN_TEST_DATA_DIR) / "basic.dat", target);
    const fs::path link = m_dir / "config.dat";
    const struct
    {
        const char* name;
        fs::path pointsTo;
    } cases[] = {{"absolute link", target}, {"relative link", fs::relative(target, m_dir)}};
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.name; },
        [&](const auto& c) {
            fs::remove(link);
            fs::create_symlink(c.pointsTo, link);
            ConfigFile file(link);
            const std::string port = std::string("33") + std::to_string(c.pointsTo.is_absolute());
            ASSERT_TRUE(file.WriteValue("system", "port", port));
            EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
            EXPECT_EQ(fs::read_symlink(link), c.pointsTo);
            EXPECT_EQ(ConfigFile(target).ReadValue("system", "port"), port);
            EXPECT_EQ(file.ReadValue("itemlist", "list"), "礼包|誠意");
            EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"config.dat"});
            // The target and the lock file beside it: no temporary is left.
            std::size_t inShared = 0;
            for (const auto& entry : fs::directory_iterator(shared.Path()))
                inShared += entry.path().filename() != "real.dat.lock";
            EXPECT_EQ(inShared, 1u);
        });
}

} // namespace
} // namespace mrvn
