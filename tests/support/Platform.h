#pragma once

namespace mrvn::test {

// True when this Windows program runs under wine rather than on Windows.
bool RunningUnderWine();

// True when a Chinese collator orders 李 王 张 by pinyin (li, wang, zhang), as ICU and
// Windows do. Without ICU, Qt on Windows asks the system, and wine's comparison does not.
bool ChineseCollatorSortsByPinyin();

} // namespace mrvn::test

// Skips a test of the Chinese sort order where the platform's collator is seen not to sort
// by pinyin; only under wine, so that a real Windows or ICU keeps the test.
#define MRVN_SKIP_WITHOUT_PINYIN_COLLATION()                                                       \
    if (::mrvn::test::RunningUnderWine() && !::mrvn::test::ChineseCollatorSortsByPinyin())         \
    GTEST_SKIP() << "the platform's collator does not sort Chinese by pinyin (wine)"
