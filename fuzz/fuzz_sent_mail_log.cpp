// The sent-mail view's reader of the audit log on any bytes (a log edited by hand, or cut
// short by a full disk). Checks:
// - every entry read has at least one receiver and a key;
// - the receivers made when an entry is opened are those counted while reading, fate by fate;
// - the receivers a resend leaves are exactly the entry's own, in their order;
// - a search by each entry's first receiver finds that entry (by its bytes where the log has
//   the tool's own form), and by its first item id.
#include "audit/SentMailLog.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    mrvn::SentMailLog log;
    mrvn::ReadSentMailRecords(std::string_view(reinterpret_cast<const char*>(data), size), log);
    mrvn::FinishSentMailLog(log);
    for (const mrvn::SentMailEntry& entry : log.entries) {
        const std::vector<mrvn::SentReceiver> own = mrvn::ReceiversOf(entry);
        Check(!own.empty() && own.size() == entry.receivers, "an entry has its receivers");
        Check(!entry.Key().empty(), "an entry has a key");
        for (const auto fate :
             {mrvn::SentFate::Sent, mrvn::SentFate::NotSent, mrvn::SentFate::Unknown}) {
            const auto made = std::count_if(own.begin(), own.end(),
                                            [fate](const auto& r) { return r.fate == fate; });
            Check(static_cast<std::size_t>(made) == entry.Count(fate), "counted as made");
        }
        const std::vector<mrvn::SentReceiver> current = mrvn::CurrentReceivers(log, entry);
        Check(current.size() == own.size(), "a resend keeps the receivers");
        for (std::size_t i = 0; i < current.size(); ++i)
            Check(current[i].roleId == own[i].roleId, "in their order");
        mrvn::SentMailQuery query;
        query.roleId = own.back().roleId;
        Check(mrvn::Matches(entry, query), "found by its receiver");
        const std::vector<std::string> items = mrvn::ItemIdsOf(entry);
        if (!items.empty()) {
            query = {};
            query.itemId = items.back();
            Check(query.itemId.empty() || mrvn::Matches(entry, query), "found by its item");
        }
    }
    return 0;
}
