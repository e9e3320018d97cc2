// config.dat reader and writer on any bytes. The input is the file, followed by
// "\0\0" and up to three arguments separated by "\x1F": section, key, value. Checks:
// - every read gives valid UTF-8 within the reader's limit;
// - a write of a plain name and value succeeds and reads back exactly;
// - writing the same value again changes no byte; deleting the key gives the default;
// - lines the write does not touch keep their bytes (the file grows or changes only at
//   the written key);
// - the key's list pieces are the pieces of the value read, and written back with their
//   bytes they read back the same.
#include "config/ConfigFile.h"
#include "text/TextUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path& Folder()
{
    static const fs::path folder = [] {
        fs::path path =
            fs::temp_directory_path() / ("mrvn-fuzz-config-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// A name that the INI format carries unchanged: not empty, one line, no brackets, equals
// sign or comment start, no blanks or control characters at its ends, GBK round trip.
bool PlainName(std::string_view name)
{
    if (name.empty() || name.size() > 64 || name.find_first_of("[]=;\r\n\x1F") != name.npos)
        return false;
    if (static_cast<unsigned char>(name.front()) <= 0x20 ||
        static_cast<unsigned char>(name.back()) <= 0x20 || name.back() == '\t')
        return false;
    return mrvn::GbkToUtf8(mrvn::Utf8ToGbk(name)) == name && mrvn::CleanUtf8(name) == name;
}

bool PlainValue(std::string_view value)
{
    if (value.find_first_of("\r\n") != value.npos)
        return false;
    if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                           value.back() == '\t'))
        return false;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return false;
    return mrvn::CleanUtf8(value) == value && mrvn::GbkToUtf8(mrvn::Utf8ToGbk(value)) == value &&
           mrvn::GbkByteLength(value) <= mrvn::kMaxValueBytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find(std::string_view("\0\0", 2));
    const std::string_view content = input.substr(0, split);
    std::string_view args = split == input.npos ? std::string_view() : input.substr(split + 2);
    std::string_view parts[3] = {"system", "ip", "127.0.0.1"};
    for (std::string_view& part : parts) {
        if (args.empty())
            break;
        const std::size_t end = args.find('\x1F');
        part = args.substr(0, end);
        args = end == args.npos ? std::string_view() : args.substr(end + 1);
    }
    const auto [section, key, value] = parts;

    const fs::path path = Folder() / "config.dat";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    mrvn::ConfigFile file(path);
    const std::string before = file.ReadValue(section, key, "\x01");
    // The key is absent only when two different defaults both come back: a present key can
    // hold either of them as its value.
    const bool absent = before == "\x01" && file.ReadValue(section, key, "\x02") == "\x02";
    Check(mrvn::CleanUtf8(before) == before, "read gives valid UTF-8");
    Check(mrvn::GbkByteLength(before) <= mrvn::kMaxValueBytes, "read within the limit");
    mrvn::LoadConnectionSettings(file);
    // Structured bindings are named again: a lambda may not capture them before C++20's
    // later compilers.
    file.Update(
        [&, section = std::string(section), key = std::string(key)](mrvn::ConfigEdit& edit) {
            const std::vector<mrvn::ValuePiece> pieces = edit.ReadPieces(section, key, '|');
            std::vector<std::string> texts;
            for (const mrvn::ValuePiece& piece : pieces)
                texts.push_back(piece.text);
            // A value within one character (two GBK bytes) of the limit may have been cut.
            if (!absent && mrvn::GbkByteLength(before) + 2 <= mrvn::kMaxValueBytes)
                Check(texts == mrvn::SplitText(before, "|"), "pieces are the value's pieces");
            if (edit.WritePieces(section, key, pieces, '|')) {
                const std::vector<mrvn::ValuePiece> again = edit.ReadPieces(section, key, '|');
                Check(again.size() == pieces.size(), "pieces written back read back");
                for (std::size_t i = 0; i < again.size() && i < pieces.size(); ++i)
                    Check(again[i].bytes == pieces[i].bytes, "pieces keep their bytes");
            }
            return false;
        });

    if (!PlainName(section) || !PlainName(key) || !PlainValue(value))
        return 0;
    Check(file.WriteValue(section, key, value), "write succeeds");
    const std::string written = ReadAll(path);
    Check(file.ReadValue(section, key, "\x01") == value, "written value reads back");
    Check(file.WriteValue(section, key, value), "second write succeeds");
    Check(ReadAll(path) == written, "same value again changes nothing");
    Check(file.DeleteKey(section, key), "delete succeeds");
    // A key that was absent is absent again (one that was present may have had a twin
    // further down its section, which now shows).
    if (absent)
        Check(file.ReadValue(section, key, "\x01") == "\x01", "delete restores absence");
    return 0;
}
