#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Text helpers shared by every module. Rules this module keeps:
// - inside the program every text is UTF-8; GBK (code page 936) only exists at the edges
//   (config.dat on disk), and only GbkToUtf8 / Utf8ToGbk cross that edge;
// - nothing here depends on the process locale or on the platform: number parsing is the
//   same on every machine, and the code-page conversion is the only platform-specific part
//   (glibc iconv on POSIX, the Win32 code-page functions on Windows, both in Gbk.cpp);
// - every function takes any bytes, never throws and never reads past its input;
// - GBK: on the way out, a character code page 936 lacks becomes one "?", and so does each
//   ill-formed piece of UTF-8 (a cut-off character is one piece; each byte of an overlong
//   or surrogate form, and each stray byte, is one); a zero byte ends the text. On the way
//   in, a GBK pair with no character, or a lead byte without its trail byte, becomes one
//   "?" (the byte after a lone lead byte is read again on its own). What the code page
//   holds comes back byte for byte, the euro sign's single byte 0x80 included;
// - numbers are read the same way wherever a box's text becomes a number: white space
//   first, then an optional sign directly before the digits, then the leading decimal
//   digits; full-width digits and signs count as their ASCII forms, anything after the
//   number is ignored and no number gives 0. Integers saturate at their type's limits (a
//   32-bit read saturates on its own, not by cutting the 64-bit value); a double is decimal
//   only (no hex, "inf" or "nan"), with an optional fraction and exponent. Where a box must
//   hold an integer and nothing else (a value that goes into a statement), IsIntegerText is
//   the check, not the reading.
namespace mrvn {

// ASCII white space: space, tab, LF, VT, FF, CR. Nothing else, whatever the locale.
bool IsAsciiSpace(char c);

// Byte-wise equality with ASCII letters compared without regard to case (how the INI
// format matches section and key names); other bytes must be equal.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);
bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix);

// Removes every ASCII space (0x20) and every ideographic space U+3000, nothing else.
std::string RemoveAllSpaces(std::string_view text);

// Each separator ends one piece (possibly empty); the rest after the last separator is a
// piece only when it is not empty; an empty text gives no pieces. maxCount < 0: no limit,
// otherwise at most maxCount pieces and the rest is dropped.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator,
                                   int maxCount = -1);

// Text to number: full-width forms U+FF01..U+FF5E and U+3000 count as their ASCII forms,
// leading white space is skipped, the leading decimal number is read, no number gives 0.
// Out-of-range values saturate.
std::int32_t TextToInt32(std::string_view text);
std::int64_t TextToInt64(std::string_view text);
double TextToDouble(std::string_view text);

// True when the text is an optional "-" followed by one or more ASCII digits and nothing
// else, and its value fits in 64 bits (what an integer-only box may legitimately hold).
bool IsIntegerText(std::string_view text);

// True when the text is one or more ASCII digits and nothing else, whatever their value:
// with IsIntegerText it tells a number too large for its box from a text that is no number.
bool IsDigitText(std::string_view text);

// Code page 936 conversions. Bytes GBK cannot decode and characters GBK cannot hold
// become "?"; nothing ever throws or crashes. The results hold no terminating zero.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);
// Bytes the text takes in GBK, as Utf8ToGbk writes it (a limit of config.dat counts these).
std::size_t GbkByteLength(std::string_view utf8);

// Bytes read from outside (database, files, the web) made into valid UTF-8 text: the text
// ends at the first zero byte and each invalid sequence becomes "?".
std::string CleanUtf8(std::string_view bytes);
// True when CleanUtf8 would give the bytes back unchanged.
bool IsValidUtf8(std::string_view bytes);

// Replaces every occurrence of `from` (non-empty) in `text` by `to`, left to right.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

} // namespace mrvn
