// zones.ini reader and writer on any bytes. Checks:
// - every zone read has an allowed name, no two names are the same without regard to case,
//   and every text is valid UTF-8;
// - what the writer makes of the list reads back as the same list, naming nothing but the
//   kept keys and sections of a later version, and writing that again gives the same bytes.
#include "config/Zones.h"
#include "text/TextUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

bool OnlyKeptThings(const std::vector<mrvn::ZoneNote>& notes)
{
    for (const mrvn::ZoneNote& note : notes) {
        if (note.kind != mrvn::ZoneNote::Kind::UnknownKey &&
            note.kind != mrvn::ZoneNote::Kind::UnknownSection)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<mrvn::ZoneNote> notes;
    const mrvn::ZoneList list = mrvn::ParseZones(input, notes);
    for (std::size_t i = 0; i < list.zones.size(); ++i) {
        const mrvn::Zone& zone = list.zones[i];
        Check(mrvn::CheckZoneName(zone.name) == mrvn::ZoneNameProblem::None, "allowed name");
        Check(mrvn::IsZoneColor(zone.color), "a colour");
        for (const std::string* text : {&zone.host, &zone.user, &zone.db, &zone.psw})
            Check(mrvn::IsValidUtf8(*text), "UTF-8 texts");
        for (std::size_t j = 0; j < i; ++j)
            Check(!mrvn::SameZoneName(list.zones[j].name, zone.name), "unique names");
    }
    const std::string written = mrvn::SerializeZones(list);
    std::vector<mrvn::ZoneNote> again;
    const mrvn::ZoneList reread = mrvn::ParseZones(written, again);
    Check(reread == list, "the written list reads back");
    Check(OnlyKeptThings(again), "nothing skipped in what the tool wrote");
    Check(mrvn::SerializeZones(reread) == written, "a second write gives the same bytes");
    return 0;
}
