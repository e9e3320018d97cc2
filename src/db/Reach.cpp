#include "db/Reach.h"

#include <cctype>

namespace mrvn {

namespace {

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> NormalizeCertificateFingerprint(std::string_view text)
{
    text = Trimmed(text);
    // What openssl x509 -fingerprint prints, and the form the tool writes itself.
    for (const std::string_view prefix : {"sha256 fingerprint=", "sha256:"}) {
        if (StartsWithNoCase(text, prefix)) {
            text.remove_prefix(prefix.size());
            break;
        }
    }
    std::string digits;
    for (const char c : text) {
        if (c == ':' || c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    if (digits.size() != 64)
        return std::nullopt;
    std::string out;
    out.reserve(95);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (!out.empty())
            out.push_back(':');
        out.push_back(digits[i]);
        out.push_back(digits[i + 1]);
    }
    return out;
}

bool SameHostKeyFingerprint(std::string_view a, std::string_view b)
{
    const auto canonical = [](std::string_view text) {
        text = Trimmed(text);
        while (!text.empty() && text.back() == '=')
            text.remove_suffix(1);
        return text;
    };
    const std::string_view left = canonical(a);
    return !left.empty() && left == canonical(b);
}

} // namespace mrvn
