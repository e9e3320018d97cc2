#include "text/TextUtil.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace mrvn {

namespace {

constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80"; // U+3000

// Length of the well-formed UTF-8 sequence at text[pos], or 0 when it is ill-formed. When
// it is ill-formed, `bad` receives the length of its maximal valid prefix (at least 1), so
// each ill-formed subpart costs exactly one replacement.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos, std::size_t& bad)
{
    const auto byte = [&](std::size_t i) -> unsigned {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned lead = byte(pos);
    const std::size_t left = text.size() - pos;
    bad = 1;
    if (lead < 0x80)
        return lead == 0 ? 0 : 1;
    std::size_t need;
    unsigned lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 3;
        if (lead == 0xE0)
            lo = 0xA0; // overlong
        else if (lead == 0xED)
            hi = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 4;
        if (lead == 0xF0)
            lo = 0x90; // overlong
        else if (lead == 0xF4)
            hi = 0x8F; // beyond U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < need; ++i) {
        if (i >= left)
            return 0;
        const unsigned b = byte(pos + i);
        const unsigned min = i == 1 ? lo : 0x80;
        const unsigned max = i == 1 ? hi : 0xBF;
        if (b < min || b > max)
            return 0;
        bad = i + 1;
    }
    return need;
}

bool IsAllAsciiWithoutZero(std::string_view bytes)
{
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    // Eight bytes at a time: any high bit or any zero byte leaves the fast path.
    while (n >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        const std::uint64_t zeroTest = (word - 0x0101010101010101ULL) & ~word;
        if ((word | zeroTest) & 0x8080808080808080ULL)
            break;
        p += 8;
        n -= 8;
    }
    for (; n > 0; ++p, --n) {
        const auto b = static_cast<unsigned char>(*p);
        if (b == 0 || b >= 0x80)
            return false;
    }
    return true;
}

// The text with full-width forms and the ideographic space folded to ASCII; everything
// else is kept, so a folded text parses exactly like its ASCII twin.
std::string FoldFullWidth(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 == 0xEF && i + 2 < text.size()) {
            const auto b1 = static_cast<unsigned char>(text[i + 1]);
            const auto b2 = static_cast<unsigned char>(text[i + 2]);
            // U+FF01..U+FF3F is EF BC 81..BF, U+FF40..U+FF5E is EF BD 80..9E.
            if (b1 == 0xBC && b2 >= 0x81 && b2 <= 0xBF) {
                out += static_cast<char>(b2 - 0x81 + 0x21);
                i += 3;
                continue;
            }
            if (b1 == 0xBD && b2 >= 0x80 && b2 <= 0x9E) {
                out += static_cast<char>(b2 - 0x80 + 0x60);
                i += 3;
                continue;
            }
        }
        if (text.substr(i, 3) == kIdeographicSpace) {
            out += ' ';
            i += 3;
            continue;
        }
        out += text[i];
        ++i;
    }
    return out;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::size_t SkipSpaces(std::string_view s, std::size_t i)
{
    while (i < s.size() && IsAsciiSpace(s[i]))
        ++i;
    return i;
}

} // namespace

bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && StartsWithAsciiNoCase(a, b);
}

bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lower(text[i]) != lower(prefix[i]))
            return false;
    }
    return true;
}

std::string RemoveAllSpaces(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
        } else if (text.substr(i, 3) == kIdeographicSpace) {
            i += 3;
        } else {
            out += text[i];
            ++i;
        }
    }
    return out;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator, int maxCount)
{
    std::vector<std::string> pieces;
    const auto full = [&] {
        return maxCount >= 0 && pieces.size() >= static_cast<std::size_t>(maxCount);
    };
    if (text.empty() || full())
        return pieces;
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t start = 0;
    while (!full()) {
        const std::size_t hit = text.find(separator, start);
        if (hit == std::string_view::npos) {
            if (start < text.size())
                pieces.emplace_back(text.substr(start));
            break;
        }
        pieces.emplace_back(text.substr(start, hit - start));
        start = hit + separator.size();
    }
    return pieces;
}

std::int64_t TextToInt64(std::string_view text)
{
    const std::string folded = FoldFullWidth(text);
    std::size_t i = SkipSpaces(folded, 0);
    bool negative = false;
    if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) {
        negative = folded[i] == '-';
        ++i;
    }
    // Accumulate toward the sign so that the most negative value is reachable.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    for (; i < folded.size() && IsDigit(folded[i]); ++i) {
        const int digit = folded[i] - '0';
        if (negative) {
            if (value < (kMin + digit) / 10)
                return kMin;
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10)
                return kMax;
            value = value * 10 + digit;
        }
    }
    return value;
}

std::int32_t TextToInt32(std::string_view text)
{
    const std::int64_t value = TextToInt64(text);
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

double TextToDouble(std::string_view text)
{
    const std::string folded = FoldFullWidth(text);
    const std::size_t begin = SkipSpaces(folded, 0);
    std::size_t i = begin;
    if (i < folded.size() && (folded[i] == '+' || folded[i] == '-'))
        ++i;
    std::size_t digits = 0;
    for (; i < folded.size() && IsDigit(folded[i]); ++i)
        ++digits;
    if (i < folded.size() && folded[i] == '.') {
        ++i;
        for (; i < folded.size() && IsDigit(folded[i]); ++i)
            ++digits;
    }
    if (digits == 0)
        return 0.0;
    // The exponent belongs to the number only when at least one digit follows it.
    if (i < folded.size() && (folded[i] == 'e' || folded[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < folded.size() && (folded[j] == '+' || folded[j] == '-'))
            ++j;
        if (j < folded.size() && IsDigit(folded[j])) {
            while (j < folded.size() && IsDigit(folded[j]))
                ++j;
            i = j;
        }
    }
    // The prefix is a plain decimal number now, so from_chars (locale-free by definition)
    // sees no hex, infinity or NaN spelling. It takes no "+", so the sign is applied here.
    std::size_t first = begin;
    const bool negative = folded[first] == '-';
    if (folded[first] == '+' || folded[first] == '-')
        ++first;
    double value = 0;
    const auto [end, error] = std::from_chars(folded.data() + first, folded.data() + i, value);
    if (error == std::errc::result_out_of_range) {
        // Out of range: saturate to infinity when the number is large, zero when it is tiny.
        // Its size is the count of digits before the point (leading zeros aside), lowered
        // by the zeros right after the point, plus the exponent.
        long long magnitude = 0;
        std::size_t k = first;
        while (k < i && folded[k] == '0')
            ++k;
        for (; k < i && IsDigit(folded[k]); ++k)
            ++magnitude;
        if (magnitude == 0 && k < i && folded[k] == '.') {
            for (++k; k < i && folded[k] == '0'; ++k)
                --magnitude;
        }
        const std::size_t e = folded.find_first_of("eE", first);
        if (e != std::string::npos && e < i) {
            long long exponent = 0;
            const char* digits = folded.data() + e + 1 + (folded[e + 1] == '+');
            if (std::from_chars(digits, folded.data() + i, exponent).ec != std::errc())
                exponent = folded[e + 1] == '-' ? -(1LL << 40) : (1LL << 40);
            magnitude += exponent;
        }
        value = magnitude > 0 ? HUGE_VAL : 0.0;
    } else if (error != std::errc() || end == folded.data() + first) {
        value = 0;
    }
    return negative ? -value : value;
}

bool IsIntegerText(std::string_view text)
{
    if (text.empty() || !(text[0] == '-' || IsDigit(text[0])))
        return false;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool IsDigitText(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

bool IsValidUtf8(std::string_view bytes)
{
    if (IsAllAsciiWithoutZero(bytes))
        return true;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == 0)
            return false;
        if (byte < 0x80) {
            ++i;
            continue;
        }
        std::size_t bad = 1;
        const std::size_t length = Utf8SequenceLength(bytes, i, bad);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string CleanUtf8(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    if (const void* zero = std::memchr(bytes.data(), 0, bytes.size()))
        bytes = bytes.substr(0, static_cast<const char*>(zero) - bytes.data());
    if (IsAllAsciiWithoutZero(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Copy ASCII runs in one go.
        std::size_t run = i;
        while (run < bytes.size() && static_cast<unsigned char>(bytes[run]) < 0x80)
            ++run;
        out.append(bytes.data() + i, run - i);
        i = run;
        if (i >= bytes.size())
            break;
        std::size_t bad = 1;
        const std::size_t length = Utf8SequenceLength(bytes, i, bad);
        if (length == 0) {
            out += '?';
            i += bad;
        } else {
            out.append(bytes.data() + i, length);
            i += length;
        }
    }
    return out;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        const std::size_t hit = text.find(from, start);
        if (hit == std::string_view::npos)
            break;
        out.append(text.substr(start, hit - start));
        out.append(to);
        start = hit + from.size();
    }
    out.append(text.substr(start));
    return out;
}

} // namespace mrvn
