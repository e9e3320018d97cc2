// Whole item search (read, scan, format) on generated catalogues of 10 MB and 100 MB, for
// a needle found in one record and one found in every record. The baseline is the
// record-by-record loop: cut the file into record copies, search each on its own and let
// pending events run after each.
#include "Catalogue.h"
#include "items/ItemSearch.h"
#include "text/TextUtil.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
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

struct Catalogue
{
    std::string label;
    std::filesystem::path path;
    std::size_t records;
};

std::map<std::string, double> g_seconds; // mean seconds per whole search, by case name

void Measure(benchmark::State& state, const std::string& name, const Catalogue& catalogue,
             const std::string& query, bool baseline)
{
    double total = 0;
    std::size_t length = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        const std::string text = baseline ? PerRecordSearch(catalogue.path, query)
                                          : mrvn::SearchItemLibrary(catalogue.path, query).text;
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        length = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["result_bytes"] = static_cast<double>(length);
    g_seconds[name] = total / static_cast<double>(state.iterations());
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
        catalogues.push_back({label, path, records});
    }

    struct Needle
    {
        const char* label;
        std::function<std::string(const Catalogue&)> query;
    };
    const std::vector<Needle> needles = {
        {"rare", [](const Catalogue& c) { return mrvn::catalogue::RecordId(c.records * 2 / 3); }},
        {"every", [](const Catalogue&) { return std::string("rarelevel"); }},
    };
    std::vector<std::string> cases;
    for (const Catalogue& catalogue : catalogues) {
        for (const Needle& needle : needles) {
            const std::string query = needle.query(catalogue);
            for (const bool baseline : {true, false}) {
                const std::string name = catalogue.label + "/" + needle.label + "/" +
                                         (baseline ? "per_record" : "one_pass");
                benchmark::RegisterBenchmark(name.c_str(),
                                             [=](benchmark::State& state) {
                                                 Measure(state, name, catalogue, query, baseline);
                                             })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime()
                    ->MinTime(1.0);
            }
            cases.push_back(catalogue.label + "/" + needle.label);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-14s %12s %12s %8s\n", "case", "per_record", "one_pass", "ratio");
    for (const std::string& c : cases) {
        const auto base = g_seconds.find(c + "/per_record");
        const auto fast = g_seconds.find(c + "/one_pass");
        if (base == g_seconds.end() || fast == g_seconds.end())
            continue;
        std::printf("%-14s %10.1fms %10.1fms %7.1fx\n", c.c_str(), base->second * 1e3,
                    fast->second * 1e3, base->second / fast->second);
    }
    return 0;
}
