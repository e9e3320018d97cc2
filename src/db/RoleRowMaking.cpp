#include "db/RoleRowMaking.h"

#include <cstring>

namespace mrvn::rolequery {

std::string_view CellView(const char* cell, std::size_t length)
{
    if (!cell)
        return {};
    const void* zero = std::memchr(cell, '\0', length);
    return std::string_view(cell, zero ? static_cast<const char*>(zero) - cell : length);
}

std::string CellText(const char* cell, std::size_t length)
{
    return std::string(CellView(cell, length));
}

} // namespace mrvn::rolequery
