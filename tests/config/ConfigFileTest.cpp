#include "config/ConfigFile.h"
#include "CaseRows.h"
#include "ConfigFileTestSupport.h"
#include "config/AtomicFile.h"
#include "text/TextUtil.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

namespace mrvn {
namespace {

namespace fs = std::filesystem;

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
        // No name at all: the caller's default, as the platform reader gives it.
        {"  ", "ip", "dflt", "dflt"},
        {"system", "\x05", "dflt", "dflt"},
        {"", "ip", "dflt", "dflt"},
        {"system", "", "dflt", "dflt"},
        {"", "", "", ""},
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
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.name; },
        [&](const auto& c) {
            fs::remove(m_dir / "config.dat");
            ConfigFile file(Fixture("basic.dat"));
            ASSERT_TRUE(file.WriteValue(c.section, c.key, c.value));
            const std::string expected = ReplaceAll(original, c.oldText, c.newText);
            ASSERT_NE(expected, original);
            EXPECT_EQ(ReadBytes(file.Path()), Utf8ToGbk(expected));
            EXPECT_EQ(file.ReadValue(c.section, c.key), c.readBack);
        });
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
    mrvn::test::ForEachRow(
        cases, [](const auto& c) { return c.name; },
        [&](const auto& c) {
            fs::remove(m_dir / "config.dat");
            ConfigFile file(Fixture("basic.dat"));
            ASSERT_TRUE(c.action(file));
            const std::string expected =
                c.oldText.empty() ? original : ReplaceAll(original, c.oldText, c.newText);
            EXPECT_EQ(ReadBytes(file.Path()), Utf8ToGbk(expected));
            EXPECT_EQ(DirectoryEntries().size(), 1u);
        });
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

// Windows refused to rename onto an existing file, so every update of an existing config.dat
// failed there; the first write (no file yet) succeeded and hid it.
TEST_F(ConfigFileTest, RepeatedWritesOfAnExistingFileSucceedAndKeepTheArchives)
{
    ConfigFile file(Fixture("basic.dat"));
    const std::string archives = Utf8ToGbk("[itemlist]\r\nlist=礼包|誠意\r\n\r\n[档案誠臸]\r\n"
                                           "标题=謀臶]\\值\r\n内容=hello=world\r\n");
    ASSERT_NE(ReadBytes(file.Path()).find(archives), std::string::npos);
    for (const char* port : {"3307", "3308", "3309"}) {
        SCOPED_TRACE(port);
        ConnectionSettings settings;
        settings.port = port;
        ASSERT_TRUE(SaveConnectionSettings(file, settings));
        EXPECT_EQ(LoadConnectionSettings(file), settings);
        EXPECT_NE(ReadBytes(file.Path()).find(archives), std::string::npos);
        EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"config.dat"});
    }
}

TEST_F(ConfigFileTest, AWriteKilledBeforeTheReplacementLeavesTheOldFile)
{
    const fs::path path = Fixture("basic.dat");
    const std::string before = ReadBytes(path);
    fs::path left;
    {
        AtomicFileWriter writer(path);
        ASSERT_TRUE(writer.IsOpen());
        ASSERT_TRUE(writer.Write("[system]\r\npsw=new secret\r\n"));
        left = writer.TemporaryPath();
        writer.AbandonAsIfKilled();
    }
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(ConfigFile(path).ReadValue("system", "ip"), "10.0.0.5");
    // What the killed process left: a hidden file beside config.dat, its name telling whose.
    EXPECT_EQ(left.parent_path(), path.parent_path());
    EXPECT_EQ(left.filename().string().rfind(".config.dat.", 0), 0u) << left;
    EXPECT_EQ(ReadBytes(left), "[system]\r\npsw=new secret\r\n");
}

// Temporary files of crashed writes hold the password in plain text: the next write removes
// those nobody holds and that are old enough, and never one a running writer still holds.
TEST_F(ConfigFileTest, TemporaryFilesOfCrashedWritesAreRemovedByTheNextWrite)
{
    const fs::path path = Fixture("basic.dat");
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const auto plant = [&](const std::string& name, bool old) {
        WriteBytes(m_dir / name, "psw=secret\r\n");
        if (old)
            fs::last_write_time(m_dir / name, hourAgo);
    };
    plant(".config.dat.Ab3xYz", true);      // as earlier versions named them
    plant(".config.dat.4242.0.tmp", true);  // as this one names them
    plant(".config.dat.4243.0.tmp", false); // may be a write starting right now
    plant(".other.dat.4244.0.tmp", true);   // another file's
    AtomicFileWriter running(path);         // another instance in the middle of a write
    ASSERT_TRUE(running.IsOpen());
    ASSERT_TRUE(running.Write("[system]\r\n"));
    fs::last_write_time(running.TemporaryPath(), hourAgo);

    ConfigFile file(path);
    ASSERT_TRUE(file.WriteValue("system", "port", "3310"));
    std::vector<std::string> entries = DirectoryEntries();
    std::sort(entries.begin(), entries.end());
    std::vector<std::string> expected = {"config.dat", ".config.dat.4243.0.tmp",
                                         ".other.dat.4244.0.tmp",
                                         running.TemporaryPath().filename().string()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(file.ReadValue("system", "port"), "3310");
    EXPECT_TRUE(running.Commit()); // the other instance's write still completes
    EXPECT_EQ(ReadBytes(path), "[system]\r\n");
}

TEST_F(ConfigFileTest, AFolderNamedConfigDatIsRefused)
{
    const fs::path path = m_dir / "config.dat";
    fs::create_directory(path);
    ConfigFile file(path);
    EXPECT_EQ(file.ReadValue("system", "ip", "d"), "d");
    EXPECT_FALSE(file.WriteValue("system", "ip", "1.2.3.4"));
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"config.dat"});
}

// The bytes the Windows program writes (GBK, CR LF, trail bytes 5C 5B 5D inside characters)
// read the same here, and a rewrite gives every other line back byte for byte.
TEST_F(ConfigFileTest, AFileWrittenByTheWindowsProgramReadsTheSame)
{
    ConfigFile file(Fixture("windows-gbk.dat"));
    const struct
    {
        std::string_view section, key, expected;
    } cases[] = {
        {"system", "ip", "主机一号"},  {"system", "port", "3306"},
        {"system", "user", "管理員"},  {"system", "psw", "密码謀臶"},
        {"system", "db", "誠臸"},      {"itemlist", "list", "礼包|誠意"},
        {"礼包", "标题", "謀臶]\\值"}, {"礼包", "内容", "十件套"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(file.ReadValue(c.section, c.key), c.expected) << c.section << "/" << c.key;

    const std::string before = ReadBytes(file.Path());
    ASSERT_TRUE(file.WriteValue("system", "ip", "10.0.0.1"));
    const std::string oldLine = Utf8ToGbk("ip=主机一号\r\n");
    std::string expected = before;
    expected.replace(expected.find(oldLine), oldLine.size(), "ip=10.0.0.1\r\n");
    EXPECT_EQ(ReadBytes(file.Path()), expected);
}

// UTF-16 lines the decoder cannot take apart cleanly are carried as they were: a zero unit
// inside a line, a lone surrogate, and an odd last byte.
TEST_F(ConfigFileTest, UntouchedUtf16LinesKeepEveryByte)
{
    const auto utf16le = [](std::u16string_view text) {
        std::string bytes;
        for (const char16_t unit : text) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        return bytes;
    };
    const std::string head = "\xFF\xFE" + utf16le(u"[system]\r\nip=a\r\n");
    const std::string rest = utf16le(u"note=x") + std::string("\0\0", 2) +
                             utf16le(u"[fake]\r\nlone=\xD800z\r\n[other]\r\nk=v\r\n") + "\x41";
    const fs::path path = m_dir / "config.dat";
    WriteBytes(path, head + rest);
    ConfigFile file(path);
    EXPECT_EQ(file.ReadValue("other", "k"), "v");
    EXPECT_EQ(file.ReadValue("fake", "x", "absent"), "absent"); // no section in mid-line

    ASSERT_TRUE(file.WriteValue("system", "ip", "b"));
    EXPECT_EQ(ReadBytes(path), "\xFF\xFE" + utf16le(u"[system]\r\nip=b\r\n") + rest);
    ASSERT_TRUE(file.WriteValue("system", "ip", "a"));
    EXPECT_EQ(ReadBytes(path), head + rest);
}

// The reader hands values over as C strings: a zero byte in the file ends the value (found
// by the config.dat fuzz target; a value with a zero byte inside went on into the window).
TEST_F(ConfigFileTest, AZeroByteInTheFileEndsTheValue)
{
    const fs::path path = m_dir / "config.dat";
    WriteBytes(path, std::string("[system]\r\nip=10.0\0.1\r\nuser=\0\r\n", 30));
    const ConfigFile file(path);
    EXPECT_EQ(file.ReadValue("system", "ip"), "10.0");
    EXPECT_EQ(file.ReadValue("system", "user", "d"), "");
}

// What a writer that must get its value back whole (the archive list) checks against.
TEST(MaxValueBytes, CountsGbkBytes)
{
    const struct
    {
        std::string value;
        std::size_t gbkBytes;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"礼包", 4},
        {"a礼|", 4},
        {std::string(kMaxValueBytes - 1, 'a') + "中", kMaxValueBytes + 1},
        {"😀", 1}, // not in GBK: one replacement character
    };
    for (const auto& c : cases)
        EXPECT_EQ(GbkByteLength(c.value), c.gbkBytes) << c.value.substr(0, 20);
}

TEST_F(ConfigFileTest, AValueOfTheMaximumLengthComesBackWholeAndOneMoreByteDoesNot)
{
    ConfigFile file(m_dir / "config.dat");
    const std::string fits = std::string(kMaxValueBytes - 2, 'x') + "礼";
    ASSERT_EQ(GbkByteLength(fits), kMaxValueBytes);
    ASSERT_TRUE(file.WriteValue("itemlist", "list", fits));
    EXPECT_EQ(file.ReadValue("itemlist", "list"), fits);
    const std::string tooLong = fits + "y";
    ASSERT_TRUE(file.WriteValue("itemlist", "list", tooLong));
    EXPECT_EQ(file.ReadValue("itemlist", "list"), fits);
}

// The program's folder, not the current one: the test program runs from elsewhere.
TEST(ProgramDirectory, IsTheFolderOfTheProgramFileNotTheCurrentOne)
{
    const test::TempDir elsewhere;
    const fs::path before = fs::current_path();
    fs::current_path(elsewhere.Path());
    const fs::path directory = ProgramDirectory();
    const fs::path config = ConfigFile::Default().Path();
    fs::current_path(before);
    ASSERT_FALSE(directory.empty());
    EXPECT_TRUE(directory.is_absolute()) << directory;
    EXPECT_TRUE(fs::is_regular_file(directory / MRVN_TEST_PROGRAM_NAME)) << directory;
    EXPECT_FALSE(fs::equivalent(directory, elsewhere.Path()));
    EXPECT_EQ(config, directory / "config.dat");
}

} // namespace
} // namespace mrvn
