#include "config/Zones.h"
#include "ConfigFileTestSupport.h"
#include "config/AtomicFile.h"
#include "text/TextUtil.h"

#include <gtest/gtest.h>

namespace mrvn {
namespace {

using Kind = ZoneNote::Kind;

std::vector<std::string> Names(const ZoneList& list)
{
    std::vector<std::string> names;
    for (const Zone& zone : list.zones)
        names.push_back(zone.name);
    return names;
}

std::vector<std::pair<Kind, int>> KindsAndLines(const std::vector<ZoneNote>& notes)
{
    std::vector<std::pair<Kind, int>> out;
    for (const ZoneNote& note : notes)
        out.emplace_back(note.kind, note.line);
    return out;
}

// What a file the tool cannot fully read still gives, and what it says it skipped.
TEST(ZonesParse, SkipsWhatItCannotReadAndLoadsTheRest)
{
    struct Case
    {
        const char* what;
        std::string file;
        std::vector<std::string> zones;
        std::vector<std::pair<Kind, int>> notes;
    };
    const std::string two = "[zone.一区]\r\nhost=10.0.0.1\r\n[zone.二区]\r\nhost=10.0.0.2\r\n";
    const Case cases[] = {
        {"clean", "[zones]\norder=二区|一区\ncurrent=一区\n" + two, {"二区", "一区"}, {}},
        {"bad line", "[zones]\nthis is no setting\n" + two, {"一区", "二区"}, {{Kind::BadLine, 2}}},
        {"key before any section", "host=1\n" + two, {"一区", "二区"}, {{Kind::BadLine, 1}}},
        {"duplicate name, other case",
         "[zone.Alpha]\n[zone.ALPHA]\nhost=x\n[zone.β]\n",
         {"Alpha", "β"},
         {{Kind::DuplicateName, 2}}},
        {"duplicate name, Greek case",
         "[zone.Ωmega]\n[zone.ωMEGA]\n",
         {"Ωmega"},
         {{Kind::DuplicateName, 2}}},
        {"unknown key", "[zone.一区]\nhost=a\nflavour=sweet\n", {"一区"}, {{Kind::UnknownKey, 3}}},
        {"bad port and colour",
         "[zone.一区]\nport=70000\ncolor=red\n",
         {"一区"},
         {{Kind::BadValue, 2}, {Kind::BadValue, 3}}},
        {"bad name",
         "[zone.a|b]\nhost=x\n[zone.]\n[zone.ok]\n",
         {"ok"},
         {{Kind::BadName, 1}, {Kind::BadName, 3}}},
        {"name too long",
         "[zone." + std::string(33, 'x') + "]\n[zone.ok]\n",
         {"ok"},
         {{Kind::BadName, 1}}},
        {"order names a missing zone",
         "[zones]\norder=一区|三区\n" + two,
         {"一区", "二区"},
         {{Kind::MissingZone, 2}}},
        {"key twice", "[zone.一区]\nhost=a\nHOST=b\n", {"一区"}, {{Kind::DuplicateKey, 3}}},
        {"password kept elsewhere",
         "[zone.一区]\npsw=secret\npassword=keychain\n",
         {"一区"},
         {{Kind::IgnoredPassword, 2}}},
        {"later version's section",
         "[zone.一区]\n[themes]\ndark=1\n",
         {"一区"},
         {{Kind::UnknownSection, 2}}},
        {"saved as ANSI (GBK)",
         "[zone.\xD2\xBB\xC7\xF8]\nhost=x\n",
         {"一区"},
         {{Kind::NotUtf8, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ZoneNote> notes;
        const ZoneList list = ParseZones(c.file, notes);
        EXPECT_EQ(Names(list), c.zones);
        EXPECT_EQ(KindsAndLines(notes), c.notes);
    }
}

TEST(ZonesParse, EveryKeyComesBackAsWrittenAndTheDefaultsStayOut)
{
    const std::string file = "[zones]\r\norder=一区|二区\r\ncurrent=二区\r\nlayout=wide\r\n"
                             "[zone.一区]\r\nhost=127.0.0.1\r\nport=3306\r\nuser=root\r\n"
                             "db=mrvn\r\ncolor=#C0392B\r\npassword=file\r\npsw=\" 7392 \"\r\n"
                             "[zone.二区]\r\nhost=10.0.0.5\r\nport=\r\nuser=gm\r\ndb=mrvn2\r\n"
                             "password=keychain\r\ntls=verify\r\ntls_fp=AB:CD\r\ntls_ca=/ca.pem\r\n"
                             "ssh_host=gate\r\nssh_port=2222\r\nssh_user=op\r\nssh_key=/k\r\n"
                             "ssh_fp=SHA256:x\r\nfuture=1\r\n";
    std::vector<ZoneNote> notes;
    const ZoneList list = ParseZones(file, notes);
    ASSERT_EQ(list.zones.size(), 2u);
    const Zone& one = list.zones[0];
    const Zone& two = list.zones[1];
    EXPECT_EQ(one.color, "#c0392b");
    EXPECT_EQ(one.psw, " 7392 ");
    EXPECT_EQ(two.port, 0u);
    EXPECT_EQ(two.password, PasswordPlace::Keychain);
    EXPECT_EQ(two.tls, TlsMode::Verify);
    EXPECT_EQ(two.sshPort, 2222u);
    EXPECT_EQ(two.tlsCaFile, "/ca.pem");
    EXPECT_EQ(two.sshFingerprint, "SHA256:x");
    EXPECT_EQ(list.current, "二区");

    const std::string written = SerializeZones(list);
    std::vector<ZoneNote> again;
    EXPECT_EQ(ParseZones(written, again), list);
    EXPECT_EQ(again.size(), 2u); // the kept keys "layout" and "future" are named again
    EXPECT_TRUE(written.starts_with("\xEF\xBB\xBF[zones]\r\norder=一区|二区\r\ncurrent=二区\r\n"));
    EXPECT_NE(written.find("psw=\" 7392 \"\r\n"), std::string::npos);
    EXPECT_NE(written.find("future=1\r\n"), std::string::npos);
    // A zone with the defaults writes none of the optional keys.
    ZoneList plain;
    AddZone(plain, ZoneFromSystemKeys({}));
    const std::string defaults = SerializeZones(plain);
    for (const char* key : {"tls", "ssh_", "current"})
        EXPECT_EQ(defaults.find(key), std::string::npos) << key;
}

TEST(ZoneNames, OneToThirtyTwoCharactersWithoutSeparators)
{
    const std::pair<std::string, ZoneNameProblem> cases[] = {
        {"一区", ZoneNameProblem::None},
        {std::string(32, 'a'), ZoneNameProblem::None},
        {"测试服（新）", ZoneNameProblem::None},
        {"", ZoneNameProblem::Empty},
        {std::string(33, 'a'), ZoneNameProblem::TooLong},
        {"a|b", ZoneNameProblem::ForbiddenCharacter},
        {"a[b", ZoneNameProblem::ForbiddenCharacter},
        {"a]", ZoneNameProblem::ForbiddenCharacter},
        {"a\tb", ZoneNameProblem::ForbiddenCharacter},
        {"a\xC2\x85", ZoneNameProblem::ForbiddenCharacter},
        {" a", ZoneNameProblem::BlankAtEnd},
        {"a\xE3\x80\x80", ZoneNameProblem::BlankAtEnd},
        {"\xFF", ZoneNameProblem::NotUtf8},
    };
    for (const auto& [name, problem] : cases)
        EXPECT_EQ(CheckZoneName(name), problem) << name;
    EXPECT_TRUE(SameZoneName("ＡＢc", "ａｂC"));
    EXPECT_FALSE(SameZoneName("一区", "二区"));
}

TEST(ZoneEdits, NamesStayUniqueAndTheListNeverEmpties)
{
    ZoneList list;
    ASSERT_EQ(AddZone(list, ZoneFromSystemKeys({})), ZoneEdit::Done);
    Zone second;
    second.name = "二区";
    ASSERT_EQ(AddZone(list, second), ZoneEdit::Done);
    list.current = "二区";
    EXPECT_NE(list.zones[1].color, list.zones[0].color);
    second.name = "默认区服";
    EXPECT_EQ(AddZone(list, second), ZoneEdit::Duplicate);
    second.name = "a|b";
    EXPECT_EQ(AddZone(list, second), ZoneEdit::BadName);
    EXPECT_EQ(RenameZone(list, "一区", "x"), ZoneEdit::NotFound);
    EXPECT_EQ(RenameZone(list, "二区", "默认区服"), ZoneEdit::Duplicate);
    EXPECT_EQ(RenameZone(list, "二区", "贰区"), ZoneEdit::Done);
    EXPECT_EQ(list.current, "贰区");
    EXPECT_EQ(SetZoneColor(list, "贰区", "blue"), ZoneEdit::BadColor);
    EXPECT_EQ(SetZoneColor(list, "贰区", "#ABCDEF"), ZoneEdit::Done);
    EXPECT_EQ(list.zones[1].color, "#abcdef");
    EXPECT_EQ(MoveZone(list, "贰区", -5), ZoneEdit::Done);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"贰区", "默认区服"}));
    EXPECT_EQ(DeleteZone(list, "贰区"), ZoneEdit::Done);
    EXPECT_EQ(list.current, "");
    EXPECT_EQ(DeleteZone(list, "默认区服"), ZoneEdit::LastZone);
}

TEST(ZoneBoxesTest, TheBoxesShowThePortAndOnlyAPasswordTheFileKeeps)
{
    Zone zone = ZoneFromSystemKeys({"10.0.0.5", "", "gm", "pw", "game"});
    EXPECT_EQ(zone.port, 0u);
    EXPECT_EQ(ZoneBoxes(zone), (ConnectionSettings{"10.0.0.5", "", "gm", "pw", "game"}));
    zone.password = PasswordPlace::Keychain;
    zone.psw.clear();
    TakeZoneBoxes(zone, {"h", "3307", "u", "typed", "d"});
    EXPECT_EQ(zone.port, 3307u);
    EXPECT_EQ(zone.psw, "");
    EXPECT_EQ(ZoneBoxes(zone).psw, "");
}

using ZonesFileTest = ConfigFileTest;

TEST_F(ZonesFileTest, WithoutZonesIniTheOldConfigIsZoneDefaultUntilTheFirstChange)
{
    WriteBytes(m_dir / "config.dat",
               "[system]\r\nip=10.0.0.9\r\nport=3310\r\nuser=gm\r\npsw=secret\r\ndb=game\r\n");
    ZonesFile file(m_dir / "zones.ini", m_dir / "config.dat");
    const LoadedZones loaded = file.Load();
    EXPECT_EQ(loaded.state, ZonesFileState::Missing);
    ASSERT_EQ(loaded.list.zones.size(), 1u);
    const Zone& zone = loaded.list.zones[0];
    EXPECT_EQ(zone.name, "默认区服");
    EXPECT_EQ(ZoneBoxes(zone), (ConnectionSettings{"10.0.0.9", "3310", "gm", "secret", "game"}));
    EXPECT_EQ(zone.password, PasswordPlace::File);
    EXPECT_FALSE(std::filesystem::exists(m_dir / "zones.ini"));

    Zone second;
    second.name = "二区";
    EXPECT_EQ(file.Update([&](ZoneList& list) { return AddZone(list, second) == ZoneEdit::Done; }),
              ZonesFile::Written::Yes);
    EXPECT_EQ(Names(file.Load().list), (std::vector<std::string>{"默认区服", "二区"}));
    EXPECT_EQ(file.Update([](ZoneList&) { return true; }), ZonesFile::Written::Unchanged);
    EXPECT_EQ(file.Update([](ZoneList&) { return false; }), ZonesFile::Written::Refused);
}

TEST_F(ZonesFileTest, AChangeIsMadeToTheFileAsItIsNowAndAnUnreadableOneIsKept)
{
    const auto path = m_dir / "zones.ini";
    ZonesFile file(path, m_dir / "config.dat");
    WriteBytes(path, "[zone.一区]\r\n");
    // Another copy of the tool adds a zone meanwhile: our change keeps it.
    WriteBytes(path, "[zone.一区]\r\n[zone.三区]\r\n");
    EXPECT_EQ(file.Update([](ZoneList& list) {
        return RenameZone(list, "一区", "壹区") == ZoneEdit::Done;
    }),
              ZonesFile::Written::Yes);
    EXPECT_EQ(Names(file.Load().list), (std::vector<std::string>{"壹区", "三区"}));

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(file.Load().state, ZonesFileState::Unreadable);
    EXPECT_EQ(file.Update([](ZoneList&) { return true; }), ZonesFile::Written::Failed);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

} // namespace
} // namespace mrvn
