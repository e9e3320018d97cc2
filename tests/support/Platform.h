#pragma once

#include <string>

namespace mrvn::test {

// True when this Windows program runs under wine rather than on Windows.
bool RunningUnderWine();

// What a Chinese collator with numeric mode gets wrong on this platform ("" when nothing):
// it must order 李 王 张 by pinyin (li, wang, zhang) and 角色9 before 角色10, as ICU and Windows
// do. Without ICU, Qt on Windows asks the system, and wine's comparison does neither.
std::string CollatorShortcomings();

} // namespace mrvn::test

// Skips a test of the Chinese sort order where the platform's collator is seen not to sort
// as Windows does; only under wine, so that a real Windows or ICU keeps the test.
#define MRVN_SKIP_WITHOUT_PINYIN_COLLATION()                                                       \
    if (::mrvn::test::RunningUnderWine() && !::mrvn::test::CollatorShortcomings().empty())         \
    GTEST_SKIP() << "the platform's collator " << ::mrvn::test::CollatorShortcomings()
