#include "mail/MailArchive.h"

#include "config/ConfigFile.h"

#include "CaseRows.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

namespace mrvn {

void PrintTo(const ArchiveItem& item, std::ostream* out)
{
    *out << item.name << "|" << item.code;
}

namespace {

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MailArchiveFile : public ::testing::Test
{
protected:
    test::TempDir m_dir;
    std::filesystem::path m_path{m_dir.Path() / "config.dat"};
    ConfigFile m_file{m_path};

    static ArchiveContent Page()
    {
        return ArchiveContent{
            " 系统 邮件 ",
            "请　勿回复",
            " 100 ",
            "5",
            {{"回城卷轴", R"({\"goodsId\":\"10001\"})"}, {"神 剑", R"({\"goodsId\":\"a b\"})"}}};
    }
    void WriteRaw(const std::string& bytes) { std::ofstream(m_path, std::ios::binary) << bytes; }
};

TEST_F(MailArchiveFile, FirstAndSecondAddBuildTheList)
{
    ASSERT_EQ(AddArchive(m_file, "套装一", Page()), AddArchiveResult::Added);
    EXPECT_EQ(m_file.ReadValue("itemlist", "list"), "套装一");
    ASSERT_EQ(AddArchive(m_file, "Set A", Page()), AddArchiveResult::Added);
    EXPECT_EQ(m_file.ReadValue("itemlist", "list"), "套装一|SetA");
    EXPECT_EQ(ReadArchiveNames(m_file), (std::vector<std::string>{"套装一", "SetA"}));

    const std::pair<const char*, const char*> keys[] = {
        {"title", "系统邮件"},
        {"content", "请勿回复"},
        {"money", "100"},
        {"yuanbao", "5"},
        {"num", "2"},
        {"item1", R"(回城卷轴|{\"goodsId\":\"10001\"})"},
        {"item2", R"(神 剑|{\"goodsId\":\"a b\"})"}, // item cells keep their spaces
    };
    for (const auto& [key, value] : keys)
        EXPECT_EQ(m_file.ReadValue("SetA", key, "absent"), value) << key;
}

TEST_F(MailArchiveFile, RefusalsComeInOrderAndWriteNothing)
{
    ASSERT_EQ(AddArchive(m_file, "Set　A", Page()), AddArchiveResult::Added);
    const std::string before = ReadBytes(m_path);
    const std::pair<const char*, AddArchiveResult> cases[] = {
        {"SetA", AddArchiveResult::Duplicate},
        {"S e t A", AddArchiveResult::Duplicate},
        {"seta", AddArchiveResult::Duplicate},
        {"SETA", AddArchiveResult::Duplicate},
        {"system", AddArchiveResult::Reserved},
        {"System", AddArchiveResult::Reserved},
        {"ITEMLIST", AddArchiveResult::Reserved},
        {"", AddArchiveResult::Empty},
        {"   ", AddArchiveResult::Empty},
        {"　 　", AddArchiveResult::Empty},
        {" | ", AddArchiveResult::Forbidden},
        {"a|b", AddArchiveResult::Forbidden},
        {"[a", AddArchiveResult::Forbidden},
        {"a]", AddArchiveResult::Forbidden},
        {"seta|", AddArchiveResult::Forbidden},
        // config.dat is GBK: each of these would be written as "?".
        {"😀", AddArchiveResult::NotGbk},
        {"한국", AddArchiveResult::NotGbk},
        {"套装ñ", AddArchiveResult::NotGbk},
        {"𠀀", AddArchiveResult::NotGbk},
        {"☃ x", AddArchiveResult::NotGbk},
        // The reader drops leading control characters: these would land in [SetA].
        {"\x01SetA", AddArchiveResult::Forbidden},
        {"\tSetA", AddArchiveResult::Forbidden},
        {"Set\x7f"
         "A",
         AddArchiveResult::Forbidden},
        {"SetA\x1f", AddArchiveResult::Forbidden},
        // A quote at an end of the list would be taken for an enclosing pair.
        {"\"x", AddArchiveResult::Forbidden},
        {"y\"", AddArchiveResult::Forbidden},
        {"'x", AddArchiveResult::Forbidden},
        {"y'", AddArchiveResult::Forbidden},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(AddArchive(m_file, name, Page()), expected) << name;
        EXPECT_EQ(ReadBytes(m_path), before) << name;
    }
}

TEST_F(MailArchiveFile, PagesThatWouldNotComeBackAreRefused)
{
    struct Case
    {
        const char* what;
        ArchiveContent page;
    };
    const Case cases[] = {
        {"line feed in title", {"a\nb", "c", "0", "0", {}}},
        {"carriage return in content", {"a", "c\r", "0", "0", {}}},
        {"quoted title", {"\"a\"", "c", "0", "0", {}}},
        {"character GBK lacks", {"a", "😀", "0", "0", {}}},
        {"| in an item name", {"a", "c", "0", "0", {{"x|y", "{}"}}}},
        {"line feed in an item code", {"a", "c", "0", "0", {{"x", "{\n}"}}}},
        {"empty item code", {"a", "c", "0", "0", {{"x", ""}}}},
        {"| in an item code", {"a", "c", "0", "0", {{"x", "{\\\"a\\\":\\\"|\\\"}"}}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AddArchive(m_file, "name", c.page), AddArchiveResult::Forbidden) << c.what;
        EXPECT_FALSE(std::filesystem::exists(m_path)) << c.what;
    }
}

TEST_F(MailArchiveFile, QuotedNamesBothComeBack)
{
    ASSERT_EQ(AddArchive(m_file, "a\"b", Page()), AddArchiveResult::Added);
    ASSERT_EQ(AddArchive(m_file, "c'd", Page()), AddArchiveResult::Added);
    EXPECT_EQ(ReadArchiveNames(m_file), (std::vector<std::string>{"a\"b", "c'd"}));
    EXPECT_EQ(LoadArchive(m_file, "c'd").items, Page().items);
}

TEST_F(MailArchiveFile, EveryItemSavedLoadsBack)
{
    const ArchiveContent page{"t", "c", "0", "0", {{"", "{}"}, {"x", R"({\"a\":\"b\\\\c\"})"}}};
    ASSERT_EQ(AddArchive(m_file, "A", page), AddArchiveResult::Added);
    EXPECT_EQ(LoadArchive(m_file, "A").items, page.items);
}

TEST_F(MailArchiveFile, AListThatWouldPassTheReadLimitIsRefused)
{
    // 3,412 two-byte names, their separators and one more letter: 10,236 GBK bytes, while
    // the same text takes 15,354 bytes in UTF-8.
    std::string list = "套";
    for (int i = 1; i < 3412; ++i)
        list += "|套";
    list += "a";
    ASSERT_TRUE(m_file.WriteValue("itemlist", "list", list));
    const std::string before = ReadBytes(m_path);

    // "|" and three more bytes would make 10,240: one past what reads back whole.
    EXPECT_EQ(AddArchive(m_file, "万x", ArchiveContent{}), AddArchiveResult::ListFull);
    EXPECT_TRUE(ReadBytes(m_path) == before);
    EXPECT_EQ(AddArchive(m_file, "万", ArchiveContent{}), AddArchiveResult::Added);
    EXPECT_TRUE(m_file.ReadValue("itemlist", "list") == list + "|万");
    const std::string full = ReadBytes(m_path);
    EXPECT_EQ(AddArchive(m_file, "x", ArchiveContent{}), AddArchiveResult::ListFull);
    EXPECT_TRUE(ReadBytes(m_path) == full);
    EXPECT_EQ(ReadArchiveNames(m_file).back(), "万");
}

TEST_F(MailArchiveFile, RowsWithoutASectionOfTheirOwnLeaveEverySectionAlone)
{
    struct Case
    {
        const char* what;
        const char* list;
        const char* name;
        const char* listAfter;
    };
    const Case cases[] = {
        {"empty name", "A||B", "", "A|B"},
        {"the connection settings", "A|System|B", "System", "A|B"},
        {"the list itself", "A|ITEMLIST", "ITEMLIST", "A"},
        {"a leading control character", "A|\x01B", "\x01B", "A"},
        {"names sharing a section", "B|b", "b", "B"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteRaw(std::string("[system]\r\nport=3306\r\n[itemlist]\r\nlist=") + c.list +
                 "\r\n[A]\r\ntitle=a\r\n[B]\r\ntitle=b\r\n");
        EXPECT_EQ(DeleteArchive(m_file, c.name), DeleteArchiveResult::ListOnly);
        EXPECT_EQ(m_file.ReadValue("itemlist", "list"), c.listAfter);
        EXPECT_EQ(m_file.ReadValue("system", "port"), "3306");
        EXPECT_EQ(m_file.ReadValue("A", "title"), "a");
        EXPECT_EQ(m_file.ReadValue("B", "title"), "b");
    }
}

TEST_F(MailArchiveFile, AStaleSectionIsReplacedWhole)
{
    m_file.WriteSection(
        "Old",
        {{"title", "t"}, {"num", "3"}, {"item1", "a|1"}, {"item2", "b|2"}, {"item3", "c|3"}});
    ArchiveContent page = Page();
    page.items.resize(1);
    ASSERT_EQ(AddArchive(m_file, "Old", page), AddArchiveResult::Added);
    EXPECT_EQ(m_file.ReadValue("Old", "item2", "absent"), "absent");
    EXPECT_EQ(m_file.ReadValue("Old", "item3", "absent"), "absent");
    EXPECT_EQ(LoadArchive(m_file, "Old").items.size(), 1u);
}

TEST_F(MailArchiveFile, SavedPageLoadsBackWithoutSpaces)
{
    ASSERT_EQ(AddArchive(m_file, "A", Page()), AddArchiveResult::Added);
    const ArchiveContent expected{"系统邮件", "请勿回复", "100", "5", Page().items};
    EXPECT_EQ(LoadArchive(m_file, "A"), expected);

    ASSERT_EQ(AddArchive(m_file, "Empty", ArchiveContent{"t", "c", "0", "0", {}}),
              AddArchiveResult::Added);
    EXPECT_EQ(m_file.ReadValue("Empty", "num"), "0");
    EXPECT_EQ(m_file.ReadValue("Empty", "item1", "absent"), "absent");
    EXPECT_TRUE(LoadArchive(m_file, "Empty").items.empty());
}

TEST_F(MailArchiveFile, DeleteRemovesThePieceAndTheSection)
{
    for (const char* name : {"A", "B", "C"})
        ASSERT_EQ(AddArchive(m_file, name, Page()), AddArchiveResult::Added);
    ASSERT_EQ(DeleteArchive(m_file, "B"), DeleteArchiveResult::Deleted);
    EXPECT_EQ(m_file.ReadValue("itemlist", "list"), "A|C");
    EXPECT_EQ(m_file.ReadValue("B", "title", "absent"), "absent");
    EXPECT_EQ(m_file.ReadValue("C", "title"), "系统邮件");

    ASSERT_EQ(DeleteArchive(m_file, "C"), DeleteArchiveResult::Deleted);
    ASSERT_EQ(DeleteArchive(m_file, "A"), DeleteArchiveResult::Deleted);
    // A name another copy already deleted changes nothing.
    const std::string before = ReadBytes(m_path);
    EXPECT_EQ(DeleteArchive(m_file, "A"), DeleteArchiveResult::NotListed);
    EXPECT_EQ(ReadBytes(m_path), before);
    // The key stays, empty.
    EXPECT_EQ(m_file.ReadValue("itemlist", "list", "absent"), "");
    EXPECT_TRUE(ReadArchiveNames(m_file).empty());
    EXPECT_EQ(m_file.ReadValue("A", "title", "absent"), "absent");
}

TEST_F(MailArchiveFile, DeleteJoinsEmptyPiecesAway)
{
    WriteRaw("[itemlist]\r\nlist=A||B|\r\n[B]\r\ntitle=b\r\n");
    // An empty piece is no archive: the list shows none.
    EXPECT_EQ(ReadArchiveNames(m_file), (std::vector<std::string>{"A", "B"}));
    ASSERT_EQ(DeleteArchive(m_file, "A"), DeleteArchiveResult::Deleted);
    // "" then "B": an empty result takes the next piece as it is.
    EXPECT_EQ(m_file.ReadValue("itemlist", "list"), "B");
}

// Names the tool did not write keep their bytes in the list when another is added or deleted,
// also bytes the file's encoding cannot decode (GBK 0xFF, broken UTF-8).
TEST_F(MailArchiveFile, ListedNamesKeepTheirBytes)
{
    struct Case
    {
        const char* what;
        std::string file;
        bool add; // adds "New", or deletes "B"
        std::string listAfter;
    };
    const Case cases[] = {
        // 0x81 before "|" is one GBK character, not a separator.
        {"add, GBK", "[itemlist]\r\nlist=A\xff|\x81|B\r\n", true, "list=A\xff|\x81|B|New\r\n"},
        {"delete, GBK, quoted", "[itemlist]\r\nlist= \"A\xff|B|C\x81\" \r\n", false,
         "list=A\xff|C\x81\r\n"},
        {"add, UTF-8", "\xEF\xBB\xBF[itemlist]\r\nlist=A\xc3|B\r\n", true, "list=A\xc3|B|New\r\n"},
        // A UTF-8 line ends at a zero byte: the blank before it ends the value.
        {"add, UTF-8, zero", std::string("\xEF\xBB\xBF[itemlist]\r\nlist=A\xc3|B\t\0x\r\n", 29),
         true, "list=A\xc3|B|New\r\n"},
    };
    test::ForEachRow(cases, &Case::what, [&](const Case& c) {
        WriteRaw(c.file);
        if (c.add)
            ASSERT_EQ(AddArchive(m_file, "New", Page()), AddArchiveResult::Added);
        else
            ASSERT_EQ(DeleteArchive(m_file, "B"), DeleteArchiveResult::Deleted);
        EXPECT_NE(ReadBytes(m_path).find(c.listAfter), std::string::npos)
            << testing::PrintToString(ReadBytes(m_path));
    });
}

TEST_F(MailArchiveFile, LoadFallsBackOnlyForAbsentKeys)
{
    const ArchiveContent defaults{"系统邮件", "系统邮件请勿回复！(内容不可用回车)", "0", "0", {}};
    EXPECT_EQ(LoadArchive(m_file, "missing"), defaults); // no file at all
    WriteRaw("[X]\r\ntitle=\r\nmoney=7\r\n");
    EXPECT_EQ(LoadArchive(m_file, "missing"), defaults);
    const ArchiveContent x{"", "系统邮件请勿回复！(内容不可用回车)", "7", "0", {}};
    EXPECT_EQ(LoadArchive(m_file, "X"), x);
}

TEST_F(MailArchiveFile, LoadReadsNumItemsAndSkipsWhatHasNoCode)
{
    struct Case
    {
        const char* what;
        const char* section;
        std::vector<ArchiveItem> items;
    };
    const Case cases[] = {
        {"num larger than the items",
         "num=5\r\nitem1=a|1\r\nitem3=c|3\r\n",
         {{"a", "1"}, {"c", "3"}}},
        {"num not a number", "num=abc\r\nitem1=a|1\r\n", {}},
        {"num missing", "item1=a|1\r\n", {}},
        {"num negative", "num=-2\r\nitem1=a|1\r\n", {}},
        {"num with a full-width digit (GBK)",
         "num=\xa3\xb2\r\nitem1=a|1\r\nitem2=b|2\r\n",
         {{"a", "1"}, {"b", "2"}}},
        {"num smaller than the items", "num=1\r\nitem1=a|1\r\nitem2=b|2\r\n", {{"a", "1"}}},
        {"three pieces", "num=1\r\nitem1=A|B|C\r\n", {{"A", "B"}}},
        {"values without | or code",
         "num=4\r\nitem1=plain\r\nitem2=A|\r\nitem3=A||C\r\n"
         "item4=|B\r\n",
         {{"", "B"}}},
        {"huge num", "num=2147483647\r\nitem1=a|1\r\n", {{"a", "1"}}},
    };
    for (const Case& c : cases) {
        WriteRaw(std::string("[S]\r\n") + c.section);
        EXPECT_EQ(LoadArchive(m_file, "S").items, c.items) << c.what;
    }
}

TEST_F(MailArchiveFile, BytesOnDiskAreGbk)
{
    ArchiveContent page{"系统邮件", "内容", "0", "0", {{"億万", R"({\"goodsId\":\"1\"})"}}};
    ASSERT_EQ(AddArchive(m_file, "套装一", page), AddArchiveResult::Added);
    const std::string bytes = ReadBytes(m_path);
    EXPECT_NE(bytes.find("list=\xcc\xd7\xd7\xb0\xd2\xbb"), std::string::npos);
    EXPECT_NE(bytes.find("[\xcc\xd7\xd7\xb0\xd2\xbb]"), std::string::npos);
    EXPECT_NE(bytes.find("title=\xcf\xb5\xcd\xb3\xd3\xca\xbc\xfe"), std::string::npos);
    // 億 ends in the byte of "|"; the value still splits after the whole name.
    EXPECT_NE(bytes.find("item1=\x83\x7c\xcd\xf2|"), std::string::npos);
    EXPECT_EQ(bytes.find("系统"), std::string::npos);
    EXPECT_EQ(LoadArchive(m_file, "套装一").items, page.items);
}

TEST_F(MailArchiveFile, HandWrittenGbkFileLoadsWhole)
{
    std::filesystem::copy_file(MRVN_TEST_DATA_DIR "/archives_gbk.dat", m_path);
    EXPECT_EQ(ReadArchiveNames(m_file),
              (std::vector<std::string>{"新手礼包", "VIP套装", "億元嘯乚"}));
    const ArchiveContent gift{"欢迎来到游戏",
                              "新手礼包请查收！",
                              "1000",
                              "50",
                              {{"回城卷轴", R"({\"bind\":1,\"goodsId\":\"10001\"})"},
                               {"金疮药", R"({\"bind\":0,\"goodsId\":\"10002\"})"}}};
    EXPECT_EQ(LoadArchive(m_file, "新手礼包"), gift);
    const ArchiveContent vip{
        "尊贵礼包", "感谢支持", "0", "0", {{"屠龙刀", R"({\"goodsId\":\"30001\"})"}}};
    EXPECT_EQ(LoadArchive(m_file, "VIP套装"), vip);
    const ArchiveContent odd{"億",
                             "系统邮件请勿回复！(内容不可用回车)",
                             "0",
                             "0",
                             {{"億万", R"({\"goodsId\":\"億\"})"}}};
    EXPECT_EQ(LoadArchive(m_file, "億元嘯乚"), odd);

    // A save beside them leaves them as they were.
    ASSERT_EQ(AddArchive(m_file, "新", Page()), AddArchiveResult::Added);
    EXPECT_EQ(LoadArchive(m_file, "新手礼包"), gift);
    EXPECT_EQ(LoadArchive(m_file, "億元嘯乚"), odd);
    EXPECT_EQ(m_file.ReadValue("system", "port"), "3306");
}

TEST_F(MailArchiveFile, AFailedWriteIsReported)
{
    ConfigFile unwritable(m_dir.Path() / "missing" / "config.dat");
    EXPECT_EQ(AddArchive(unwritable, "A", Page()), AddArchiveResult::WriteFailed);
    EXPECT_FALSE(std::filesystem::exists(unwritable.Path()));
    EXPECT_EQ(DeleteArchive(unwritable, "A"), DeleteArchiveResult::WriteFailed);
}

// Names config.dat to the copies of this program that the test below starts.
constexpr char kCopyConfigVariable[] = "MRVN_ARCHIVE_COPY_CONFIG";
constexpr int kArchivesPerCopy = 100;

void SetVariable(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Another copy of the tool, as the test below starts it: adds its share of archives to the
// config.dat named in the environment. Run on its own, it has nothing to do.
TEST(ArchiveCopy, AddsItsShare)
{
    const char* path = std::getenv(kCopyConfigVariable);
    if (path == nullptr || *path == '\0')
        GTEST_SKIP() << "started by TwoCopiesAddingAtOnceKeepEveryArchive";
    ConfigFile file{std::filesystem::path(path)};
    const std::string prefix = "c" + std::to_string(std::random_device{}()) + "n";
    for (int i = 0; i < kArchivesPerCopy; ++i)
        ASSERT_EQ(AddArchive(file, prefix + std::to_string(i), ArchiveContent{}),
                  AddArchiveResult::Added);
}

TEST_F(MailArchiveFile, TwoCopiesAddingAtOnceKeepEveryArchive)
{
    const std::filesystem::path program = ProgramDirectory() / MRVN_TEST_PROGRAM_NAME;
    std::string command = "\"" + program.string() + "\" --gtest_filter=ArchiveCopy.AddsItsShare";
#ifdef _WIN32
    command = "\"" + command + " > NUL\"";
#else
    command += " > /dev/null";
#endif
    SetVariable(kCopyConfigVariable, m_path.string());
    int exitCodes[2] = {-1, -1};
    {
        std::thread first([&] { exitCodes[0] = std::system(command.c_str()); });
        std::thread second([&] { exitCodes[1] = std::system(command.c_str()); });
        first.join();
        second.join();
    }
    SetVariable(kCopyConfigVariable, "");
    EXPECT_EQ(exitCodes[0], 0);
    EXPECT_EQ(exitCodes[1], 0);

    const std::vector<std::string> names = ReadArchiveNames(m_file);
    EXPECT_EQ(names.size(), 2u * kArchivesPerCopy);
    int sections = 0;
    for (const std::string& name : names)
        sections += m_file.ReadValue(name, "num", "absent") == "0";
    EXPECT_EQ(sections, 2 * kArchivesPerCopy);
}

} // namespace
} // namespace mrvn
