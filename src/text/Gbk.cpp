// The one place that knows how this platform converts code page 936: glibc iconv's CP936
// on POSIX, the Win32 code-page functions on Windows. Both give the same bytes for every
// character both tables hold; how a byte pair that is not a GBK character decodes is the
// platform's own (POSIX: "?" per character, Windows: its default character).
#include "text/TextUtil.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <iconv.h>
#endif

namespace mrvn {

namespace {

bool IsAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

#ifdef _WIN32

namespace {

constexpr UINT kGbk = 936;

std::wstring ToWide(UINT codePage, std::string_view bytes)
{
    std::wstring wide;
    // The Win32 functions take int lengths; a text of 2 GB is converted in pieces that end
    // on a character, which only the converter knows, so such a text is simply refused.
    if (bytes.empty() || bytes.size() > 0x7FFFFFFF)
        return wide;
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0)
        return wide;
    wide.resize(static_cast<std::size_t>(needed));
    MultiByteToWideChar(codePage, 0, bytes.data(), length, wide.data(), needed);
    return wide;
}

std::string FromWide(UINT codePage, const std::wstring& wide)
{
    std::string bytes;
    if (wide.empty() || wide.size() > 0x7FFFFFFF)
        return bytes;
    const int length = static_cast<int>(wide.size());
    // No "best fit": a character GBK lacks becomes "?", not a look-alike (as on POSIX).
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int needed =
        WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return bytes;
    bytes.resize(static_cast<std::size_t>(needed));
    WideCharToMultiByte(codePage, flags, wide.data(), length, bytes.data(), needed, nullptr,
                        nullptr);
    return bytes;
}

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    if (IsAscii(gbk))
        return std::string(gbk);
    // The converter would swallow the byte after a lone lead byte (an ASCII digit, say), so
    // the text is cut into characters here, as the POSIX side does: a lead byte with a
    // byte of the trail range after it is one character, 0xFF or a lead byte without a
    // trail is one bad byte ("?"). Runs of whole characters go to the converter in one call.
    std::wstring wide;
    std::size_t run = 0;
    std::size_t i = 0;
    const auto flush = [&](std::size_t end) { wide += ToWide(kGbk, gbk.substr(run, end - run)); };
    while (i < gbk.size()) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        if (lead <= 0x80) {
            ++i;
            continue;
        }
        if (lead != 0xFF && i + 1 < gbk.size()) {
            const auto trail = static_cast<unsigned char>(gbk[i + 1]);
            if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
                i += 2;
                continue;
            }
        }
        flush(i);
        wide += L'?';
        run = ++i;
    }
    flush(gbk.size());
    return FromWide(CP_UTF8, wide);
}

std::string Utf8ToGbk(std::string_view utf8)
{
    // CleanUtf8 ends the text at its first zero byte and makes every ill-formed sequence a
    // "?", so the only characters replaced below are those code page 936 cannot hold.
    const std::string clean = CleanUtf8(utf8);
    if (IsAscii(clean))
        return clean;
    const std::wstring wide = ToWide(CP_UTF8, clean);
    // A character beyond U+FFFF is one character and costs one "?", as on POSIX (the
    // converter would give one per UTF-16 unit).
    std::wstring single;
    single.reserve(wide.size());
    for (std::size_t k = 0; k < wide.size(); ++k) {
        const wchar_t unit = wide[k];
        if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < wide.size() && wide[k + 1] >= 0xDC00 &&
            wide[k + 1] <= 0xDFFF) {
            single += L'?';
            ++k;
        } else {
            single += unit;
        }
    }
    return FromWide(kGbk, single);
}

#else

namespace {

// glibc's CP936 is the Windows code page 936 (0x80 is the euro sign). Each thread keeps
// its own converters: opening one loads a module, and a converter is not thread-safe.
class Converter
{
public:
    Converter(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_handle != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_handle);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much of `in` as possible, appending to `out`. Returns the number of input
    // bytes consumed; stops at the first byte sequence the converter refuses.
    std::size_t Convert(std::string_view in, std::string& out)
    {
        if (m_handle == reinterpret_cast<iconv_t>(-1))
            return 0;
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buffer[4096];
        while (srcLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t rc = iconv(m_handle, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG)
                break;
        }
        return in.size() - srcLeft;
    }

private:
    iconv_t m_handle;
};

Converter& GbkDecoder()
{
    thread_local Converter converter("UTF-8", "CP936");
    return converter;
}

Converter& GbkEncoder()
{
    thread_local Converter converter("CP936", "UTF-8");
    return converter;
}

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    if (IsAscii(gbk))
        return std::string(gbk);
    std::string out;
    out.reserve(gbk.size() * 3 / 2);
    while (!gbk.empty()) {
        gbk.remove_prefix(GbkDecoder().Convert(gbk, out));
        if (gbk.empty())
            break;
        // A lead byte with a byte of the trail range after it is one (unknown) character;
        // anything else is one bad byte, and what follows it is read afresh.
        const auto lead = static_cast<unsigned char>(gbk[0]);
        std::size_t skip = 1;
        if (lead >= 0x81 && lead <= 0xFE && gbk.size() >= 2) {
            const auto trail = static_cast<unsigned char>(gbk[1]);
            if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F)
                skip = 2;
        }
        out += '?';
        gbk.remove_prefix(skip);
    }
    return out;
}

std::string Utf8ToGbk(std::string_view utf8)
{
    // CleanUtf8 ends the text at its first zero byte and makes every ill-formed sequence
    // a "?", so the only refusals left are characters code page 936 cannot hold.
    const std::string clean = CleanUtf8(utf8);
    if (IsAscii(clean))
        return clean;
    std::string out;
    out.reserve(clean.size());
    std::string_view rest = clean;
    while (!rest.empty()) {
        rest.remove_prefix(GbkEncoder().Convert(rest, out));
        if (rest.empty())
            break;
        const auto lead = static_cast<unsigned char>(rest[0]);
        std::size_t skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (skip > rest.size())
            skip = rest.size();
        out += '?';
        rest.remove_prefix(skip);
    }
    return out;
}

#endif

std::size_t GbkByteLength(std::string_view utf8)
{
    return Utf8ToGbk(utf8).size();
}

} // namespace mrvn
