#include "Platform.h"

#include <QCollator>
#include <QLocale>

#ifdef _WIN32
#include <windows.h>
#endif

namespace mrvn::test {

bool RunningUnderWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

bool ChineseCollatorSortsByPinyin()
{
    const QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    return collator.compare(QStringLiteral("李"), QStringLiteral("王")) < 0 &&
           collator.compare(QStringLiteral("王"), QStringLiteral("张")) < 0;
}

} // namespace mrvn::test
