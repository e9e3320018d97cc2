// Whole item search on generated catalogues of 10 MB and 100 MB, for a needle found in one
// record ("rare") and one found in every record ("every"). Measured in the same run:
// - memmem: a plain memmem scan of the same bytes in memory that finds each matching record
//   and skips to the next one (no lines built): the floor the search is held against;
// - read: reading the whole file from the page cache into memory already in use (as cat
//   reads into its buffer);
// - warm: SearchItemLibrary with the catalogue's bytes kept from the search before;
// - changed: SearchItemLibrary right after the file's modification time changed (read + scan);
// - fresh: the same with nothing kept before (read into new memory + scan);
// - per_record: the record-by-record loop of old (cut the file into record copies, search
//   each on its own, let pending events run after each), the historical baseline.
// "every" builds the default line limit's lines; "every_all" builds a line for every record.
// Each figure is the median of its runs (the machine may be busy with other work).
#include "Catalogue.h"
#include "items/ItemSearch.h"
#include "text/TextUtil.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string FieldBetween(const std::string& slice, std::string_view start, std::string_view end)
{
    const auto at = slice.find(start);
    if (at == std::string::npos)
        return {};
    const auto stop = slice.find(end, at + start.size());
    if (stop == std::string::npos)
        return {};
    return slice.substr(at + start.size(), stop - at - start.size());
}

std::string PerRecordSearch(const std::filesystem::path& path, const std::string& query)
{
    const std::string buffer = ReadWholeFile(path);
    std::vector<std::string> slices;
    std::size_t start = 0;
    for (std::size_t at = buffer.find('{'); at != std::string::npos; at = buffer.find('{', start)) {
        slices.push_back(buffer.substr(start, at - start));
        start = at + 1;
    }
    slices.push_back(buffer.substr(start));
    std::string out;
    for (std::size_t i = 1; i < slices.size(); ++i) {
        // The query box is read anew for every record.
        const std::string needle = mrvn::RemoveAllSpaces(query);
        if (!needle.empty() && slices[i].find(needle) != std::string::npos) {
            const std::string line =
                "id：" + mrvn::CleanUtf8(FieldBetween(slices[i], "\"id\": \"", "\"")) + "|" +
                mrvn::CleanUtf8(FieldBetween(slices[i], "\"name\": \"", "\"")) + "|颜色：" +
                mrvn::CleanUtf8(FieldBetween(slices[i], "\"rarelevel\": ", ",")) + "|职业：" +
                mrvn::CleanUtf8(FieldBetween(slices[i], "\"job\": ", ","));
            out += out.empty() ? line : "\r\n" + line;
        }
        QCoreApplication::processEvents();
    }
    return out;
}

// Matching records found with memmem and memchr alone.
std::size_t MemmemScan(std::string_view buffer, const std::string& needle)
{
    std::size_t records = 0;
    const char* at = buffer.data();
    const char* const end = buffer.data() + buffer.size();
    while (at < end) {
        const void* hit =
            memmem(at, static_cast<std::size_t>(end - at), needle.data(), needle.size());
        if (!hit)
            break;
        ++records;
        const char* hitAt = static_cast<const char*>(hit);
        const void* next = std::memchr(hitAt, '{', static_cast<std::size_t>(end - hitAt));
        at = next ? static_cast<const char*>(next) : end;
    }
    return records;
}

std::size_t ReadWhole(const std::filesystem::path& path, std::vector<char>& buffer)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), file);
    std::fclose(file);
    benchmark::DoNotOptimize(buffer.data());
    return read;
}

struct Catalogue
{
    std::string label;
    std::filesystem::path path;
    std::size_t records;
    std::string bytes; // the same bytes in memory, for the memmem scan
};

enum class Way { Memmem, Read, Warm, Changed, Fresh, PerRecord };
const char* const kWayNames[] = {"memmem", "read", "warm", "changed", "fresh", "per_record"};

std::map<std::string, std::vector<double>> g_seconds;    // wall time, by case name
std::map<std::string, std::vector<double>> g_cpuSeconds; // this thread's CPU time

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void Measure(benchmark::State& state, const std::string& name, const Catalogue& catalogue,
             const std::string& query, std::size_t maxLines, Way way)
{
    std::size_t out = 0;
    std::vector<char> buffer(catalogue.bytes.size());
    ReadWhole(catalogue.path, buffer);
    if (way == Way::Warm || way == Way::Changed)
        mrvn::SearchItemLibrary(catalogue.path, query, maxLines);
    for (auto _ : state) {
        if (way == Way::Fresh)
            mrvn::ForgetCatalogue();
        if (way == Way::Changed || way == Way::Fresh) {
            std::filesystem::last_write_time(catalogue.path,
                                             std::filesystem::last_write_time(catalogue.path) +
                                                 std::chrono::seconds(1));
        }
        const auto begin = std::chrono::steady_clock::now();
        const double cpuBegin = ThreadCpuSeconds();
        switch (way) {
        case Way::Memmem:
            out = MemmemScan(catalogue.bytes, query);
            break;
        case Way::Read:
            out = ReadWhole(catalogue.path, buffer);
            break;
        case Way::Warm:
        case Way::Changed:
        case Way::Fresh:
            out = mrvn::SearchItemLibrary(catalogue.path, query, maxLines).text.size();
            break;
        case Way::PerRecord:
            out = PerRecordSearch(catalogue.path, query).size();
            break;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.SetIterationTime(seconds);
        g_seconds[name].push_back(seconds);
        g_cpuSeconds[name].push_back(ThreadCpuSeconds() - cpuBegin);
    }
    state.counters["out"] = static_cast<double>(out);
}

double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    std::vector<Catalogue> catalogues;
    for (const auto& [label, megabytes] : {std::pair<const char*, std::size_t>{"10MB", 10},
                                           std::pair<const char*, std::size_t>{"100MB", 100}}) {
        const std::size_t records = mrvn::catalogue::RecordsForBytes(megabytes * 1000 * 1000);
        const std::filesystem::path path =
            std::filesystem::path(dir.path().toStdString()) / (std::string(label) + ".json");
        if (!mrvn::catalogue::WriteCatalogue(path, records)) {
            std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
            return 1;
        }
        std::printf("%s: %zu records, %ju bytes\n", label, records,
                    static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
        catalogues.push_back({label, path, records, ReadWholeFile(path)});
    }

    struct Needle
    {
        const char* label;
        std::function<std::string(const Catalogue&)> query;
        std::size_t maxLines;
    };
    const std::vector<Needle> needles = {
        {"rare", [](const Catalogue& c) { return mrvn::catalogue::RecordId(c.records * 2 / 3); },
         mrvn::kMaxResultLines},
        {"every", [](const Catalogue&) { return std::string("rarelevel"); }, mrvn::kMaxResultLines},
        {"every_all", [](const Catalogue&) { return std::string("rarelevel"); }, SIZE_MAX},
    };
    std::vector<std::string> cases;
    for (const Catalogue& catalogue : catalogues) {
        for (const Needle& needle : needles) {
            const std::string query = needle.query(catalogue);
            const std::string prefix = catalogue.label + "/" + needle.label;
            for (const Way way :
                 {Way::Memmem, Way::Read, Way::Warm, Way::Changed, Way::Fresh, Way::PerRecord}) {
                const bool slow = way == Way::PerRecord || way == Way::Fresh;
                if (slow && needle.maxLines != SIZE_MAX && std::string(needle.label) != "rare")
                    continue; // the old loop has no line limit: measured once, as every_all
                const std::string name = prefix + "/" + kWayNames[static_cast<int>(way)];
                const std::size_t maxLines = needle.maxLines;
                benchmark::RegisterBenchmark(name.c_str(),
                                             [=, &catalogue](benchmark::State& state) {
                                                 Measure(state, name, catalogue, query, maxLines,
                                                         way);
                                             })
                    ->Unit(benchmark::kMillisecond)
                    ->UseManualTime()
                    ->Iterations(way == Way::PerRecord ? 1
                                 : way == Way::Fresh   ? 5
                                                       : 11);
            }
            cases.push_back(prefix);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Wall time counts the waits of a busy machine; this thread's CPU time does not (the
    // read's is the copy out of the page cache).
    for (const auto* table : {&g_seconds, &g_cpuSeconds}) {
        const auto ms = [table](const std::string& name) {
            const auto found = table->find(name);
            return found == table->end() ? -1.0 : Median(found->second) * 1e3;
        };
        std::printf("\n%s medians in ms; limits: 100MB rare warm <= 25 ms and <= 1.2x memmem, "
                    "every <= 120 ms, changed <= read + 1.2x memmem\n",
                    table == &g_seconds ? "wall" : "CPU");
        std::printf("%-16s %8s %8s %8s %8s %8s %10s %10s %10s %10s\n", "case", "memmem", "read",
                    "warm", "changed", "fresh", "per_record", "warm/mm", "rd+1.2mm", "per/warm");
        for (const std::string& c : cases) {
            const double mm = ms(c + "/memmem"), rd = ms(c + "/read"), warm = ms(c + "/warm"),
                         changed = ms(c + "/changed"), fresh = ms(c + "/fresh"),
                         per = ms(c + "/per_record");
            std::printf("%-16s %8.1f %8.1f %8.1f %8.1f %8.1f %10.1f %9.2fx %10.1f %9.1fx\n",
                        c.c_str(), mm, rd, warm, changed, fresh, per, warm / mm, rd + 1.2 * mm,
                        per > 0 ? per / warm : 0.0);
        }
    }
    return 0;
}
