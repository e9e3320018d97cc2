#include "Catalogue.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <random>
#include <string_view>

namespace mrvn::catalogue {

namespace {

constexpr std::array<std::string_view, 24> kPrefixes = {
    "烈焰", "寒冰", "青铜", "玄铁", "紫金", "龙鳞", "幽冥", "疾风", "破军", "天罡", "赤焰", "碧落",
    "星辰", "雷霆", "暗影", "苍穹", "白银", "黄金", "精钢", "月华", "圣光", "血饮", "灵犀", "无双"};
constexpr std::array<std::string_view, 24> kKinds = {
    "之剑", "战刀", "长枪", "法杖", "戒指", "项链", "头盔", "铠甲", "护腕", "战靴", "腰带", "披风",
    "药水", "卷轴", "宝石", "符咒", "弓",   "匕首", "盾牌", "手镯", "宝箱", "礼包", "坐骑", "羽翼"};
constexpr std::array<std::string_view, 6> kSuffixes = {"", "", "", "·改", "（绑定）", "+5"};
constexpr std::array<std::string_view, 8> kDescriptions = {
    "", "", "神兵利器", "可叠加", "任务道具", "活动奖励", "商城出售", "不可交易"};

// A small, portable generator: the same seed gives the same bytes on every platform.
class Random
{
public:
    explicit Random(unsigned seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint32_t Next(std::uint32_t bound)
    {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>((m_state >> 33) % bound);
    }

private:
    std::uint64_t m_state;
};

void AppendRecord(std::string& out, std::size_t index, bool last, Random& random)
{
    out += "  {\n    \"id\": \"";
    out += RecordId(index);
    out += "\",\n    \"name\": \"";
    out += kPrefixes[random.Next(kPrefixes.size())];
    out += kKinds[random.Next(kKinds.size())];
    out += kSuffixes[random.Next(kSuffixes.size())];
    out += "\",\n    \"rarelevel\": ";
    out += std::to_string(random.Next(6));
    out += ",\n    \"job\": ";
    out += std::to_string(random.Next(5));
    out += ",\n    \"level\": ";
    out += std::to_string(1 + random.Next(120));
    out += ",\n    \"price\": ";
    out += std::to_string(random.Next(50000));
    out += ",\n    \"desc\": \"";
    out += kDescriptions[random.Next(kDescriptions.size())];
    // One record in four carries its attributes as a nested object, which the search
    // sees as a record of its own.
    if (random.Next(4) == 0) {
        out += "\",\n    \"attr\": {\"atk\": ";
        out += std::to_string(random.Next(300));
        out += ", \"def\": ";
        out += std::to_string(random.Next(300));
        out += "}\n  }";
    } else {
        out += "\",\n    \"stack\": ";
        out += std::to_string(1 + random.Next(999));
        out += "\n  }";
    }
    out += last ? "\n" : ",\n";
}

} // namespace

std::string RecordId(std::size_t index)
{
    return std::to_string(1000001 + index);
}

std::string MakeCatalogue(std::size_t records, unsigned seed)
{
    Random random(seed);
    std::string out;
    out.reserve(records * kApproxRecordBytes + 8);
    out += "[\n";
    for (std::size_t i = 0; i < records; ++i)
        AppendRecord(out, i, i + 1 == records, random);
    out += "]\n";
    return out;
}

bool WriteCatalogue(const std::filesystem::path& path, std::size_t records, unsigned seed)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    Random random(seed);
    std::string chunk = "[\n";
    for (std::size_t i = 0; i < records; ++i) {
        AppendRecord(chunk, i, i + 1 == records, random);
        if (chunk.size() >= (1u << 20)) {
            file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    chunk += "]\n";
    file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    file.close();
    return static_cast<bool>(file);
}

std::size_t RecordsForBytes(std::size_t bytes)
{
    return bytes / kApproxRecordBytes;
}

} // namespace mrvn::catalogue
