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

std::string CollatorShortcomings()
{
    QCollator collator(QLocale(QLocale::Chinese, QLocale::China));
    collator.setNumericMode(true);
    std::string found;
    if (collator.compare(QStringLiteral("李"), QStringLiteral("王")) >= 0 ||
        collator.compare(QStringLiteral("王"), QStringLiteral("张")) >= 0)
        found = "does not sort Chinese by pinyin";
    if (collator.compare(QStringLiteral("角色9"), QStringLiteral("角色10")) >= 0)
        found += std::string(found.empty() ? "" : ", ") + "does not sort digits as numbers";
    return found;
}

} // namespace mrvn::test
