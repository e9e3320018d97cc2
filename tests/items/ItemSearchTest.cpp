#include "items/ItemSearch.h"
#include "Catalogue.h"
#include "text/TextUtil.h"

#include <gtest/gtest.h>

#include "PeakMemory.h"
#include "TempDir.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace std::string_literals;

namespace {

// The search as first described: cut the file at every "{", skip the head, search each
// record on its own. The one-pass search must give the same text on any input.
std::string PerSliceSearch(std::string_view buffer, std::string_view query)
{
    std::string needle;
    for (std::size_t i = 0; i < query.size(); ++i) {
        if (query[i] == ' ')
            continue;
        if (query.substr(i, 3) == "\xE3\x80\x80") {
            i += 2;
            continue;
        }
        needle += query[i];
    }
    // Every "{" opens a record that runs to the next "{" or the end; the head is skipped.
    std::vector<std::string_view> records;
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] == '{') {
            const std::size_t next = buffer.find('{', i + 1);
            records.push_back(buffer.substr(
                i + 1, next == std::string_view::npos ? std::string_view::npos : next - i - 1));
        }
    }
    auto field = [](std::string_view slice, std::string_view from, std::string_view to) {
        const auto at = slice.find(from);
        if (at == std::string_view::npos)
            return std::string();
        const auto end = slice.find(to, at + from.size());
        if (end == std::string_view::npos)
            return std::string();
        const std::string_view value = slice.substr(at + from.size(), end - at - from.size());
        if (value.size() <= mrvn::kMaxFieldBytes)
            return mrvn::CleanUtf8(value);
        // Longer fields show their first characters that fit with the marker.
        std::string shown;
        std::size_t i = 0;
        for (;;) {
            std::size_t length = 1;
            while (i + length < value.size() &&
                   (static_cast<unsigned char>(value[i + length]) & 0xC0) == 0x80 && length < 4)
                ++length;
            if (i + length > mrvn::kMaxFieldBytes - 3)
                break;
            i += length;
        }
        return mrvn::CleanUtf8(value.substr(0, i)) + "…";
    };
    std::string out;
    for (const std::string_view record : records) {
        if (needle.empty() || record.find(needle) == std::string_view::npos)
            continue;
        // Neither an id nor a name: no item (a nested object's members).
        if (field(record, "\"id\": \"", "\"").empty() &&
            field(record, "\"name\": \"", "\"").empty())
            continue;
        if (!out.empty())
            out += "\r\n";
        out += "id：" + field(record, "\"id\": \"", "\"") + "|" +
               field(record, "\"name\": \"", "\"") + "|颜色：" +
               field(record, "\"rarelevel\": ", ",") + "|职业：" + field(record, "\"job\": ", ",");
    }
    return out;
}

std::filesystem::path WriteFile(const mrvn::test::TempDir& dir, std::string_view bytes)
{
    const std::filesystem::path path = dir.Path() / "goods.jat.json";
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

const std::string kTwoRecords = "[\n"
                                "  {\"id\": \"1001\", \"name\": \"烈焰之剑\", \"rarelevel\": 3, "
                                "\"job\": 1, \"price\": 10},\n"
                                "  {\"id\": \"A2002b\", \"name\": \"寒冰 法杖\", \"rarelevel\": 5, "
                                "\"job\": 2, \"price\": 20}\n"
                                "]\n";

struct SearchCase
{
    const char* label;
    std::string file;
    std::string query;
    std::string expected;
};

class SearchCatalogueCases : public ::testing::TestWithParam<SearchCase>
{
};

TEST_P(SearchCatalogueCases, GivesTheExpectedLines)
{
    const SearchCase& c = GetParam();
    const mrvn::ItemSearchResult result = mrvn::SearchCatalogue(c.file, c.query);
    const std::string& text = result.text;
    EXPECT_EQ(text, c.expected);
    std::size_t expectedMatches = 0;
    if (!c.expected.empty()) {
        expectedMatches = 1;
        for (std::size_t at = c.expected.find("\r\n"); at != std::string::npos;
             at = c.expected.find("\r\n", at + 2))
            ++expectedMatches;
    }
    EXPECT_EQ(result.matches, expectedMatches);
    EXPECT_EQ(result.shown, expectedMatches);
    EXPECT_EQ(text, PerSliceSearch(c.file, c.query));
}

const std::string kFirst = "id：1001|烈焰之剑|颜色：3|职业：1";
const std::string kSecond = "id：A2002b|寒冰 法杖|颜色：5|职业：2";

INSTANTIATE_TEST_SUITE_P(
    Boundaries, SearchCatalogueCases,
    ::testing::Values(
        SearchCase{"EmptyQuery", kTwoRecords, "", ""},
        SearchCase{"SpacesOnlyQuery", kTwoRecords, " \xE3\x80\x80  \xE3\x80\x80", ""},
        SearchCase{"ChineseName", kTwoRecords, "烈焰", kFirst},
        SearchCase{"AsciiSpaceInsideQueryDropped", kTwoRecords, "A2 002", kSecond},
        SearchCase{"FullWidthSpaceBeforeNameDropped", kTwoRecords, "\xE3\x80\x80寒冰", kSecond},
        // The name holds a space, but the needle never can.
        SearchCase{"SpaceInValueCannotBeSearched", kTwoRecords, "寒冰 法杖", ""},
        SearchCase{"CaseSensitive", kTwoRecords, "a2002B", ""},
        SearchCase{"QueryMatchingAKeyListsEveryRecord", kTwoRecords, "job",
                   kFirst + "\r\n" + kSecond},
        SearchCase{"RecordHoldingQueryTwiceListedOnce",
                   "[{\"id\": \"77\", \"name\": \"77号\", \"rarelevel\": 1, \"job\": 0,}]", "77",
                   "id：77|77号|颜色：1|职业：0"},
        SearchCase{"HeadBeforeFirstBraceNeverSearched",
                   "烈焰 \"id\": \"9\" 烈焰" + kTwoRecords.substr(2), "烈焰", kFirst},
        SearchCase{"HeadOnlyHitGivesNothing", "烈焰之剑 no braces at all", "烈焰", ""},
        // The part after the "{" has neither an id nor a name: it is no item.
        SearchCase{"BraceInsideStringValueCutsTheRecord",
                   "[{\"id\": \"5\", \"name\": \"左{右\", \"rarelevel\": 2, \"job\": 3, }]", "右",
                   ""},
        SearchCase{"BraceInsideValueFirstPart",
                   "[{\"id\": \"5\", \"name\": \"左{右\", \"rarelevel\": 2, \"job\": 3, }]", "左",
                   "id：5||颜色：|职业："},
        SearchCase{"QueryWithBraceMatchesNothing", kTwoRecords, "{\"id\"", ""},
        SearchCase{"JobLastTakesTheClosingBrace",
                   "[\n{\"id\": \"1\", \"rarelevel\": 4, \"job\": 2}, {\"id\": \"2\"}]", "\"1\"",
                   "id：1||颜色：4|职业：2}"},
        SearchCase{"RareLevelLastWithoutCommaIsEmpty",
                   "[{\"id\": \"1\", \"job\": 2, \"rarelevel\": 4}]", "\"1\"",
                   "id：1||颜色：|职业：2"},
        SearchCase{"NoFieldsIsNoItem", "[{\"x\": 1}]", "x", ""},
        SearchCase{"EmptyIdAndNameIsNoItem",
                   "{\"id\": \"\", \"name\": \"\", \"rarelevel\": , \"job\": ,", "id", ""},
        SearchCase{"NameWithoutIdIsAnItem", "{\"name\": \"剑\", \"job\": 1,", "剑",
                   "id：|剑|颜色：|职业：1"},
        SearchCase{"NestedObjectIsNoItem",
                   "[{\"id\": \"7\", \"name\": \"剑\", \"attr\": {\"atk\": 5, \"def\": 1}}]", "atk",
                   ""},
        SearchCase{"ItemBeforeItsNestedObjectIsListed",
                   "[{\"id\": \"7\", \"name\": \"剑\", \"attr\": {\"atk\": 5, \"def\": 1}}]", "剑",
                   "id：7|剑|颜色：|职业："},
        SearchCase{"EmptyFile", "", "a", ""},
        SearchCase{"AdjacentBracesGiveAnEmptyRecord", "{{{", "{", ""},
        SearchCase{"FileEndingWithBrace", "{\"id\": \"3\", \"job\": 1,{", "3",
                   "id：3||颜色：|职业：1"},
        SearchCase{"NeedleAtTheVeryEnd", "{\"id\": \"1\" abc", "bc", "id：1||颜色：|职业："},
        SearchCase{"InvalidUtf8BecomesQuestionMark",
                   "[{\"id\": \"9\", \"name\": \"坏\xFF名\", \"rarelevel\": 1, \"job\": 1,}]", "9",
                   "id：9|坏?名|颜色：1|职业：1"},
        SearchCase{"NoUnescapingEscapedQuoteEndsName",
                   "[{\"id\": \"8\", \"name\": \"A\\\"B\", \"rarelevel\": 1, \"job\": 1,}]", "8",
                   "id：8|A\\|颜色：1|职业：1"},
        SearchCase{"MarkersWithoutTheSpaceAreNotFields",
                   "[{\"id\":\"8\", \"name\":\"x\", \"rarelevel\":1, \"job\":1,}]", "8",
                   ""}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return info.param.label; });

// Random bytes drawn from the pieces that matter (braces, markers, quotes, commas,
// multi-byte and invalid characters) and queries cut from the same text.
TEST(SearchCatalogue, EqualsThePerSliceSearchOnGeneratedInput)
{
    const std::vector<std::string> pieces = {"{",
                                             "}",
                                             ",",
                                             "\"",
                                             " ",
                                             "\"id\": \"",
                                             "\"name\": \"",
                                             "\"rarelevel\": ",
                                             "\"job\": ",
                                             "12",
                                             "剑",
                                             "烈焰",
                                             "\xFF",
                                             "\xE3\x80\x80",
                                             "ab",
                                             "\r\n",
                                             "\xE5\x89",
                                             "\x00"s};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string buffer;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            buffer += pieces[random() % pieces.size()];
        std::string query;
        if (random() % 3 == 0 || buffer.empty()) {
            const int parts = 1 + static_cast<int>(random() % 3);
            for (int i = 0; i < parts; ++i)
                query += pieces[random() % pieces.size()];
        } else {
            const std::size_t at = random() % buffer.size();
            query = buffer.substr(at, 1 + random() % 6);
        }
        ASSERT_EQ(mrvn::SearchCatalogue(buffer, query).text, PerSliceSearch(buffer, query))
            << "round " << round;
    }
}

TEST(SearchCatalogue, EqualsThePerSliceSearchOnAGeneratedCatalogue)
{
    const std::string catalogue = mrvn::catalogue::MakeCatalogue(3000, 7);
    for (const std::string& query :
         std::vector<std::string>{"烈焰", "之剑", "rarelevel", "atk", "1000001",
                                  mrvn::catalogue::RecordId(2999), "\"", "5,", "·改", "},"}) {
        EXPECT_EQ(mrvn::SearchCatalogue(catalogue, query).text, PerSliceSearch(catalogue, query))
            << query;
    }
}

TEST(SearchItemLibrary, MissingFileIsReported)
{
    const mrvn::test::TempDir dir;
    const auto result = mrvn::SearchItemLibrary(dir.Path() / "goods.jat.json", "剑");
    EXPECT_TRUE(result.fileMissing);
    EXPECT_EQ(result.text, "");
    EXPECT_EQ(result.matches, 0u);
}

TEST(SearchItemLibrary, EmptyFileGivesAnEmptyResult)
{
    const mrvn::test::TempDir dir;
    const auto result = mrvn::SearchItemLibrary(WriteFile(dir, ""), "剑");
    EXPECT_FALSE(result.fileMissing);
    EXPECT_EQ(result.text, "");
    EXPECT_EQ(result.matches, 0u);
}

TEST(SearchItemLibrary, UnreadableCatalogueCountsAsEmpty)
{
    const mrvn::test::TempDir dir;
    const std::filesystem::path folder = dir.Path() / "goods.jat.json";
    std::filesystem::create_directory(folder);
    const auto result = mrvn::SearchItemLibrary(folder, "剑");
    EXPECT_FALSE(result.fileMissing);
    EXPECT_EQ(result.text, "");
}

TEST(SearchItemLibrary, TwoMatchesAreJoinedByOneLineBreak)
{
    const mrvn::test::TempDir dir;
    const auto result = mrvn::SearchItemLibrary(WriteFile(dir, kTwoRecords), "price");
    EXPECT_EQ(result.text, kFirst + "\r\n" + kSecond);
    EXPECT_EQ(result.matches, 2u);
}

TEST(SearchItemLibrary, FindsEveryRecordOfAGeneratedCatalogueByItsId)
{
    const mrvn::test::TempDir dir;
    const std::filesystem::path path = dir.Path() / "goods.jat.json";
    constexpr std::size_t kRecords = 500;
    ASSERT_TRUE(mrvn::catalogue::WriteCatalogue(path, kRecords, 3));
    for (std::size_t i : {std::size_t(0), std::size_t(1), kRecords / 2, kRecords - 1}) {
        const std::string id = mrvn::catalogue::RecordId(i);
        const auto result = mrvn::SearchItemLibrary(path, id);
        ASSERT_EQ(result.matches, 1u) << id;
        EXPECT_EQ(result.text.rfind("id：" + id + "|", 0), 0u) << result.text;
        EXPECT_EQ(result.text.find("|颜色：|"), std::string::npos) << result.text;
    }
    // Every item record has a name key; nested attribute objects have none.
    EXPECT_EQ(mrvn::SearchItemLibrary(path, "\"name\"").matches, kRecords);
    // Only items are found and counted: the nested objects' members never are.
    EXPECT_EQ(mrvn::SearchItemLibrary(path, "atk").matches, 0u);
    const auto ones = mrvn::SearchItemLibrary(path, "1");
    EXPECT_GT(ones.matches, 0u);
    EXPECT_LE(ones.matches, kRecords);
    EXPECT_EQ(ones.text.find("id：|"), std::string::npos);
}

// Every match is counted; only the first lines up to the limit are built.
TEST(SearchCatalogue, LineLimitCountsEveryMatchAndShowsTheFirst)
{
    const std::string catalogue = kTwoRecords + "{\"id\": \"3\", \"price\": 1,";
    const std::string third = "id：3||颜色：|职业：";
    const struct
    {
        const char* label;
        std::size_t maxLines, shown;
        std::string text;
    } cases[] = {
        {"no line", 0, 0, ""},
        {"one line", 1, 1, kFirst},
        {"one short of the matches", 2, 2, kFirst + "\r\n" + kSecond},
        {"exactly the matches", 3, 3, kFirst + "\r\n" + kSecond + "\r\n" + third},
        {"more than the matches", 4, 3, kFirst + "\r\n" + kSecond + "\r\n" + third},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto result = mrvn::SearchCatalogue(catalogue, "price", c.maxLines);
        EXPECT_EQ(result.matches, 3u);
        EXPECT_EQ(result.shown, c.shown);
        EXPECT_EQ(result.text, c.text);
    }
    // The default limit on a catalogue where every record matches.
    const std::string many = mrvn::catalogue::MakeCatalogue(mrvn::kMaxResultLines + 1, 2);
    const auto result = mrvn::SearchCatalogue(many, "\"name\"");
    EXPECT_EQ(result.matches, mrvn::kMaxResultLines + 1);
    EXPECT_EQ(result.shown, mrvn::kMaxResultLines);
}

// The catalogue's bytes are kept between searches; any change of the file that shows in its
// size or modification time is searched at the next press.
TEST(SearchItemLibrary, AChangedCatalogueIsReadAgain)
{
    const mrvn::test::TempDir dir;
    const std::filesystem::path path = WriteFile(dir, kTwoRecords);
    ASSERT_EQ(mrvn::SearchItemLibrary(path, "烈焰").text, kFirst);
    const auto modified = std::filesystem::last_write_time(path);
    const auto rewrite = [&](std::string_view bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    };
    std::string sameSize = kTwoRecords;
    sameSize.replace(sameSize.find("烈焰"), 6, "暗影");
    const struct
    {
        const char* label;
        std::function<void()> change;
        std::string query, text;
        bool missing = false;
    } cases[] = {
        {"unchanged", [] {}, "烈焰", kFirst},
        {"same size, later time",
         [&] {
             rewrite(sameSize);
             std::filesystem::last_write_time(path, modified + std::chrono::seconds(2));
         },
         "暗影", "id：1001|暗影之剑|颜色：3|职业：1"},
        {"same size, earlier time",
         [&] {
             rewrite(kTwoRecords);
             std::filesystem::last_write_time(path, modified - std::chrono::seconds(2));
         },
         "烈焰", kFirst},
        {"other size, same time",
         [&] {
             rewrite(kTwoRecords + "{\"id\": \"9\"");
             std::filesystem::last_write_time(path, modified - std::chrono::seconds(2));
         },
         "\"9\"", "id：9||颜色：|职业："},
        {"emptied", [&] { rewrite(""); }, "id", ""},
        {"removed", [&] { std::filesystem::remove(path); }, "id", "", true},
        {"back", [&] { rewrite(kTwoRecords); }, "烈焰", kFirst},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        c.change();
        const auto result = mrvn::SearchItemLibrary(path, c.query);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.fileMissing, c.missing);
    }
}

// The window runs the search on another thread; a second search may start before the first
// ends, also on another catalogue.
TEST(SearchItemLibrary, SearchesOnSeveralThreadsAtOnce)
{
    const mrvn::test::TempDir dir;
    const std::filesystem::path a = dir.Path() / "a.json";
    const std::filesystem::path b = dir.Path() / "b.json";
    ASSERT_TRUE(mrvn::catalogue::WriteCatalogue(a, 2000, 1));
    ASSERT_TRUE(mrvn::catalogue::WriteCatalogue(b, 3000, 2));
    const std::string query = "\"name\"";
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                const bool first = (i + t) % 2 == 0;
                const auto result = mrvn::SearchItemLibrary(first ? a : b, query);
                if (result.matches != (first ? 2000u : 3000u))
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST(ExtractBetween, FindsTheFirstValue)
{
    struct Case
    {
        std::string_view slice, start, end, expected;
    } const cases[] = {
        {"a=1;b=2;a=3;", "a=", ";", "1"},
        {"a=;", "a=", ";", ""},
        {"a=1", "a=", ";", ""},
        {"b=1;", "a=", ";", ""},
        {"a=1;", "", ";", ""},
        {"a=1;", "a=", "", ""},
        // The end is looked for only after the start marker.
        {";a=1;", "a=", ";", "1"},
        {"", "a", "b", ""},
        {"xaax", "a", "a", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mrvn::ExtractBetween(c.slice, c.start, c.end), c.expected) << c.slice;
}

TEST(Catalogue, WrittenFileEqualsTheMadeText)
{
    const mrvn::test::TempDir dir;
    const std::filesystem::path path = dir.Path() / "c";
    ASSERT_TRUE(mrvn::catalogue::WriteCatalogue(path, 7000, 5));
    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    const std::string made = mrvn::catalogue::MakeCatalogue(7000, 5);
    EXPECT_EQ(written, made);
    EXPECT_NE(made, mrvn::catalogue::MakeCatalogue(7000, 6));
    // Sized so that 100 MB is about 600,000 records.
    const double perRecord = double(made.size()) / 7000;
    EXPECT_GT(perRecord, 150.0);
    EXPECT_LT(perRecord, 190.0);
    EXPECT_EQ(mrvn::catalogue::MakeCatalogue(0), "[\n]\n");
}

// A catalogue is outside input: a record with a field of many megabytes must not make a
// result line of that size (the text box used to crash or freeze on it).
TEST(SearchItemLibrary, AHugeFieldIsShownCutWithAMarker)
{
    const mrvn::test::TempDir dir;
    const std::filesystem::path path = dir.Path() / "goods.jat.json";
    // Written piece by piece, so the test itself never holds the file in memory.
    constexpr std::size_t kHugeNameBytes = std::size_t(64) << 20;
    {
        std::ofstream out(path, std::ios::binary);
        out << "[{\"id\": \"1\", \"name\": \"";
        std::string piece;
        for (int i = 0; i < 4096 / 3; ++i)
            piece += "剑";
        for (std::size_t written = 0; written < kHugeNameBytes; written += piece.size())
            out << piece;
        out << "\", \"rarelevel\": 3, \"job\": 1},\n"
               "{\"id\": \"2\", \"name\": \"盾\", \"rarelevel\": 1, \"job\": 2}]";
    }
    const std::size_t fileBytes = static_cast<std::size_t>(std::filesystem::file_size(path));

    const std::size_t peakBefore = mrvn::test::PeakMemoryBytes();
    const auto result = mrvn::SearchItemLibrary(path, "rarelevel");
    const std::size_t peakAfter = mrvn::test::PeakMemoryBytes();
    ASSERT_EQ(result.matches, 2u);
    ASSERT_LE(result.text.size(), 2 * (4 * mrvn::kMaxFieldBytes + 40)); // before printing it
    std::string shownName;
    for (int i = 0; i < 84; ++i) // 84 characters of 3 bytes and the 3-byte marker: 255 bytes
        shownName += "剑";
    shownName += "…";
    EXPECT_EQ(result.text, "id：1|" + shownName + "|颜色：3|职业：1}\r\nid：2|盾|颜色：1|职业：");
    // The file is read into memory once; nothing else of its size is made.
    if (peakBefore != 0) {
        EXPECT_LE(peakAfter - peakBefore, fileBytes + fileBytes / 2) << peakAfter;
    }
}

TEST(SearchCatalogue, FieldsAreCutAtACharacterBoundary)
{
    const auto record = [](const std::string& name) {
        return "{\"id\": \"7\", \"name\": \"" + name + "\", \"rarelevel\": 1, \"job\": 0,";
    };
    const struct
    {
        const char* label;
        std::string name, shown;
    } cases[] = {
        {"exactly the limit", std::string(mrvn::kMaxFieldBytes, 'a'),
         std::string(mrvn::kMaxFieldBytes, 'a')},
        {"one byte over", std::string(mrvn::kMaxFieldBytes + 1, 'a'),
         std::string(mrvn::kMaxFieldBytes - 3, 'a') + "…"},
        {"cut inside a 3-byte character", std::string(252, 'a') + "剑剑",
         std::string(252, 'a') + "…"},
        {"cut inside a 4-byte character", std::string(251, 'a') + "😀😀",
         std::string(251, 'a') + "…"},
        {"invalid bytes before the cut", std::string(250, 'a') + "\xE5\x89" + std::string(10, 'b'),
         std::string(250, 'a') + "?b…"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string line = mrvn::SearchCatalogue(record(c.name), "\"7\"").text;
        EXPECT_EQ(line, "id：7|" + c.shown + "|颜色：1|职业：0");
        EXPECT_LE(c.shown.size(), mrvn::kMaxFieldBytes);
        EXPECT_EQ(mrvn::CleanUtf8(line), line);
    }
}

// The result goes to the text box in chunks: at a line break when the chunk holds one,
// inside a line that is longer than a chunk, never inside a character.
TEST(NextChunkEnd, CutsAtLineBreaksAndInsideLongLines)
{
    const struct
    {
        const char* label;
        std::u16string text;
        std::size_t offset, chunk, expected;
    } cases[] = {
        {"rest fits", u"ab\ncd", 0, 10, 5},
        {"after the last line break in the chunk", u"ab\ncd\nefgh", 0, 7, 6},
        {"no line break: cut at the chunk size", u"abcdefgh", 0, 3, 3},
        {"from an offset", u"abcdefgh", 3, 3, 6},
        {"line break right at the limit", u"abc\ndefgh", 0, 4, 4},
        {"a surrogate pair is not split", u"ab\U0001F600cd", 0, 3, 2},
        {"a surrogate pair that fits whole", u"ab\U0001F600cd", 0, 4, 4},
        {"offset at the end", u"abc", 3, 2, 3},
        {"a zero chunk still moves on", u"abc", 0, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(mrvn::NextChunkEnd(std::u16string_view(c.text), c.offset, c.chunk), c.expected);
    }
    const struct
    {
        const char* label;
        std::string text;
        std::size_t chunk, expected;
    } bytes[] = {
        {"UTF-8: the character at the cut goes to the next chunk", "ab剑cd", 3, 2},
        {"UTF-8: a character that ends at the cut stays", "ab剑cd", 5, 5},
    };
    for (const auto& c : bytes) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(mrvn::NextChunkEnd(std::string_view(c.text), 0, c.chunk), c.expected);
    }
}

TEST(NextChunkEnd, ChunksOfAHugeLineCoverItWithoutGaps)
{
    std::u16string text(1000003, u'x');
    text[500000] = u'\n';
    std::size_t offset = 0, chunks = 0;
    while (offset < text.size()) {
        const std::size_t end = mrvn::NextChunkEnd(std::u16string_view(text), offset, 200000);
        ASSERT_GT(end, offset);
        ASSERT_LE(end - offset, 200000u);
        offset = end;
        ++chunks;
    }
    EXPECT_EQ(offset, text.size());
    EXPECT_EQ(chunks, 6u); // 200000, 200000, 100001 (line break), 200000, 200000, 100002
}

} // namespace

namespace mrvn {
namespace {

TEST(CatalogueItemName, FindsTheRecordWhoseIdIsExactlyTheOneAsked)
{
    const std::string head = "\"id\": \"1001\" before any record [";
    struct Case
    {
        const char* what;
        std::string file;
        const char* id;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"first record", kTwoRecords, "1001", "烈焰之剑"},
        {"a name with a space", kTwoRecords, "A2002b", "寒冰 法杖"},
        {"a prefix of an id is not the id", kTwoRecords, "100", std::nullopt},
        {"letter case counts", kTwoRecords, "a2002b", std::nullopt},
        {"the file's head holds no record", head + kTwoRecords.substr(1), "1001", "烈焰之剑"},
        {"only in the head", head, "1001", std::nullopt},
        {"a record without a name", "[{\"id\": \"7\"}]", "7", ""},
        {"an id with a quote is never asked", kTwoRecords, "10\"01", std::nullopt},
        {"an empty id", kTwoRecords, "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CatalogueItemName(c.file, c.id), c.name);
    }
}

TEST(ParseResultLine, TakesTheIdAndTheNameOfAResultLine)
{
    struct Case
    {
        const char* line;
        std::optional<std::string> id, name;
    };
    const Case cases[] = {
        {"id：1001|烈焰之剑|颜色：3|职业：1", "1001", "烈焰之剑"},
        {"id：7|a|b|颜色：|职业：", "7", "a|b"},
        {"id：|x|颜色：1|职业：1", std::nullopt, std::nullopt},
        {"……只显示前 10000 条，其余 5 条未显示，请缩小查询范围。", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<ResultLineItem> item = ParseResultLine(c.line);
        EXPECT_EQ(item ? std::optional(item->id) : std::nullopt, c.id);
        EXPECT_EQ(item ? std::optional(item->name) : std::nullopt, c.name);
    }
}

} // namespace
} // namespace mrvn
