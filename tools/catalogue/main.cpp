#include "Catalogue.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// mrvn-make-catalogue OUT [--records N | --megabytes M]
int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT [--records N | --megabytes M]\n", argv[0]);
        return 2;
    }
    std::size_t records = 1000;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const double value = std::strtod(argv[i + 1], nullptr);
        if (value < 0) {
            std::fprintf(stderr, "negative size: %s\n", argv[i + 1]);
            return 2;
        }
        if (option == "--records") {
            records = static_cast<std::size_t>(value);
        } else if (option == "--megabytes") {
            records = mrvn::catalogue::RecordsForBytes(static_cast<std::size_t>(value * 1e6));
        } else {
            std::fprintf(stderr, "unknown option: %s\n", option.c_str());
            return 2;
        }
    }
    if (argc % 2 != 0) {
        std::fprintf(stderr, "missing value after %s\n", argv[argc - 1]);
        return 2;
    }
    if (!mrvn::catalogue::WriteCatalogue(argv[1], records)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
