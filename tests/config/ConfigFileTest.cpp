#include "config/ConfigFile.h"
#include "text/TextUtil.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mrvn {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

class ConfigFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/mrvn-config-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        chmod(m_dir.c_str(), 0755);
    }
    void TearDown() override
    {
        chmod(m_dir.c_str(), 0755);
        fs::remove_all(m_dir);
    }

    fs::path Fixture(std::string_view name)
    {
        const fs::path target = m_dir / "config.dat";
        fs::copy_file(fs::path(MRVN_TEST_DATA_DIR) / name, target);
        return target;
    }

    std::vector<std::string> DirectoryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path m_dir;
};

TEST_F(ConfigFileTest, ReadsValuesLikeThePlatformReader)
{
    const ConfigFile file(Fixture("basic.dat"));
    const struct
    {
        std::string_view section, key, defaultValue, expected;
    } cases[] = {
        {"system", "ip", "d", "10.0.0.5"},   // [System] IP, first key wins
        {"SYSTEM", "PORT", "3306", ""},      // present but empty: not the default
        {"system", "user", "", "root user"}, // one pair of quotes goes
        {"system", "psw", "", "密码"},
        {"system", "db", "", "\"unbalanced'"}, // first [system] wins; quotes differ
        {"system", "note without equals", "x", "x"},
        {"system", ";ip", "x", "x"},
        {"system", "missing", "dflt", "dflt"},
        {"nosuch", "ip", "dflt", "dflt"},
        {" \t system", "\x01 ip", "d", "10.0.0.5"},
        {"system ", "ip\t", "d", "10.0.0.5"},
        {"  ", "ip", "dflt", ""},
        {"system", "\x05", "dflt", ""},
        {"itemlist", "list", "", "礼包|誠意"},
        {"档案誠臸", "标题", "", "謀臶]\\值"}, // trail bytes 0x5C 0x5B 0x5D
        {"档案誠臸", "内容", "", "hello=world"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(file.ReadValue(c.section, c.key, c.defaultValue), c.expected)
            << c.section << "/" << c.key;
}

TEST_F(ConfigFileTest, MissingFileGivesDefaultsAndIsNotCreated)
{
    const ConfigFile file(m_dir / "config.dat");
    EXPECT_EQ(LoadConnectionSettings(file), ConnectionSettings{});
    EXPECT_EQ(file.ReadValue("system", "ip"), "");
    EXPECT_EQ(ConfigFile("").ReadValue("system", "ip", "d"), "");
    ConfigFile writable(m_dir / "config.dat");
    EXPECT_TRUE(writable.DeleteKey("system", "ip"));
    EXPECT_TRUE(writable.DeleteSection("system"));
    EXPECT_TRUE(DirectoryEntries().empty());
}

TEST_F(ConfigFileTest, LongValuesAreCutAtTheBufferNeverInsideACharacter)
{
    const ConfigFile file(Fixture("long.dat"));
    const struct
    {
        std::string_view key;
        std::string expected;
    } cases[] = {
        {"ascii", std::string(10238, 'a')},       // "中" would end at 10,240
        {"fits", std::string(10237, 'b') + "中"}, // exactly 10,239 bytes
        {"wide",
         [] {
             std::string s;
             for (int i = 0; i < 5119; ++i)
                 s += "字";
             return s;
         }()},
    };
    for (const auto& c : cases) {
        const std::string value = file.ReadValue("big", c.key);
        EXPECT_EQ(value.size(), c.expected.size()) << c.key;
        EXPECT_EQ(value, c.expected) << c.key;
    }
}

TEST_F(ConfigFileTest, WritesInPlaceAtSectionEndOrInANewSection)
{
    const std::string original = GbkToUtf8(ReadBytes(fs::path(MRVN_TEST_DATA_DIR) / "basic.dat"));
    const struct
    {
        const char* name;
        std::string_view section, key, value;
        std::string_view oldText, newText; // the change expected in the decoded file
        std::string_view readBack;
    } cases[] = {
        {"existing key keeps its spelling", "SYSTEM", "port", "3307", "Port=\r\n", "Port=3307\r\n",
         "3307"},
        {"new key after the section's last line", "itemlist", "新键", " 带空格 ",
         "list=礼包|誠意\r\n", "list=礼包|誠意\r\n新键= 带空格 \r\n", "带空格"},
        {"section with trail bytes", "档案誠臸", "标题", "新]值", "标题=謀臶]\\值", "标题=新]值",
         "新]值"},
        {"new section at the end", "新节", "k", "v", "db=shadowed\r\n",
         "db=shadowed\r\n[新节]\r\nk=v\r\n", "v"},
        {"line ends in a value are flattened", "itemlist", "list", "a\r\n[x]", "list=礼包|誠意",
         "list=a  [x]", "a  [x]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_dir / "config.dat");
        ConfigFile file(Fixture("basic.dat"));
        ASSERT_TRUE(file.WriteValue(c.section, c.key, c.value));
        const std::string expected = ReplaceAll(original, c.oldText, c.newText);
        ASSERT_NE(expected, original);
        EXPECT_EQ(ReadBytes(file.Path()), Utf8ToGbk(expected));
        EXPECT_EQ(file.ReadValue(c.section, c.key), c.readBack);
    }
}

TEST_F(ConfigFileTest, DeletesAndWholeSectionWrites)
{
    const std::string original = GbkToUtf8(ReadBytes(fs::path(MRVN_TEST_DATA_DIR) / "basic.dat"));
    using Keys = std::vector<std::pair<std::string, std::string>>;
    const struct
    {
        const char* name;
        std::function<bool(ConfigFile&)> action;
        std::string_view oldText, newText;
    } cases[] = {
        {"delete key", [](ConfigFile& f) { return f.DeleteKey("System", "USER"); },
         "user=\"root user\"\r\n", ""},
        {"delete section up to the next header",
         [](ConfigFile& f) { return f.DeleteSection("档案誠臸"); },
         "[档案誠臸]\r\n标题=謀臶]\\值\r\n内容=hello=world\r\n\r\n", ""},
        {"delete absent key", [](ConfigFile& f) { return f.DeleteKey("system", "nope"); }, "", ""},
        {"delete absent section", [](ConfigFile& f) { return f.DeleteSection("nope"); }, "", ""},
        {"section rewritten unchanged",
         [](ConfigFile& f) {
             return f.WriteSection("档案誠臸",
                                   Keys{{"标题", "謀臶]\\值"}, {"内容", "hello=world"}});
         },
         "", ""},
        {"section body replaced, blank line kept",
         [](ConfigFile& f) {
             return f.WriteSection("ITEMLIST", Keys{{"a", "1"}, {"b", "2"}});
         },
         "list=礼包|誠意\r\n", "a=1\r\nb=2\r\n"},
        {"new section appended",
         [](ConfigFile& f) {
             return f.WriteSection("存档", Keys{{"a", "1"}});
         },
         "db=shadowed\r\n", "db=shadowed\r\n[存档]\r\na=1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_dir / "config.dat");
        ConfigFile file(Fixture("basic.dat"));
        ASSERT_TRUE(c.action(file));
        const std::string expected =
            c.oldText.empty() ? original : ReplaceAll(original, c.oldText, c.newText);
        EXPECT_EQ(ReadBytes(file.Path()), Utf8ToGbk(expected));
        EXPECT_EQ(DirectoryEntries().size(), 1u);
    }
}

TEST_F(ConfigFileTest, ConnectionSettingsLeaveArchiveSectionsUntouched)
{
    ConfigFile batch(Fixture("basic.dat"));
    ConfigFile single(m_dir / "single.dat");
    fs::copy_file(batch.Path(), single.Path());
    const ConnectionSettings edited{" 192.168.1.9", "3307", "admin", "密 码", "game"};
    ASSERT_TRUE(SaveConnectionSettings(batch, edited));
    for (const auto& [key, value] :
         std::vector<std::pair<std::string, std::string>>{{"ip", edited.ip},
                                                          {"port", edited.port},
                                                          {"user", edited.user},
                                                          {"psw", edited.psw},
                                                          {"db", edited.db}})
        ASSERT_TRUE(single.WriteValue("system", key, value));
    const std::string bytes = ReadBytes(batch.Path());
    EXPECT_EQ(bytes, ReadBytes(single.Path()));
    const std::string archives = Utf8ToGbk("[itemlist]\r\nlist=礼包|誠意\r\n\r\n[档案誠臸]\r\n"
                                           "标题=謀臶]\\值\r\n内容=hello=world\r\n");
    EXPECT_NE(bytes.find(archives), std::string::npos);

    ConnectionSettings expected = edited;
    expected.ip = "192.168.1.9"; // written with the space, read back without it
    EXPECT_EQ(LoadConnectionSettings(batch), expected);
}

TEST_F(ConfigFileTest, NewFileIsPrivateAndExistingFileKeepsItsMode)
{
    ConfigFile created(m_dir / "config.dat");
    ASSERT_TRUE(SaveConnectionSettings(created, ConnectionSettings{}));
    EXPECT_EQ(fs::status(created.Path()).permissions() & fs::perms::mask, fs::perms(0600));
    EXPECT_EQ(ReadBytes(created.Path()),
              "[system]\r\nip=127.0.0.1\r\nport=3306\r\nuser=root\r\npsw=739215\r\ndb=mrvn\r\n");

    chmod(created.Path().c_str(), 0644);
    ASSERT_TRUE(created.WriteValue("system", "ip", "10.1.1.1"));
    EXPECT_EQ(fs::status(created.Path()).permissions() & fs::perms::mask, fs::perms(0644));
}

TEST_F(ConfigFileTest, FailedWritesLeaveTheOldFileAndNoTemporaryFile)
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

TEST_F(ConfigFileTest, ByteOrderMarkFilesKeepTheirEncoding)
{
    for (const char* name : {"utf8bom.dat", "utf16le.dat", "utf16be.dat"}) {
        SCOPED_TRACE(name);
        fs::remove(m_dir / "config.dat");
        ConfigFile file(Fixture(name));
        const std::string before = ReadBytes(file.Path());
        EXPECT_EQ(file.ReadValue("system", "ip"), "主机");
        EXPECT_EQ(file.ReadValue("other", "k"), "😀"); // beyond what GBK holds

        ASSERT_TRUE(file.WriteSection("system", {{"ip", "主机"}}));
        EXPECT_EQ(ReadBytes(file.Path()), before);

        ASSERT_TRUE(file.WriteValue("system", "ip", "新主机"));
        const std::string after = ReadBytes(file.Path());
        EXPECT_EQ(after.substr(0, 2), before.substr(0, 2));
        EXPECT_EQ(file.ReadValue("system", "ip"), "新主机");
        EXPECT_EQ(file.ReadValue("other", "k"), "😀");
        ASSERT_TRUE(file.WriteValue("system", "ip", "主机"));
        EXPECT_EQ(ReadBytes(file.Path()), before);
    }
}

TEST(ProgramDirectory, IsWhereTheProgramFileLies)
{
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(ProgramDirectory(), exe.parent_path());
    EXPECT_EQ(ConfigFile::Default().Path(), exe.parent_path() / "config.dat");
}

} // namespace
} // namespace mrvn
