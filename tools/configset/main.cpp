// mrvn-config-set FILE SECTION KEY VALUE: writes one value into a config.dat the way the
// tool itself does (GBK, CR LF, other sections untouched). Used by the demo script.
#include "config/ConfigFile.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s FILE SECTION KEY VALUE\n", argv[0]);
        return 2;
    }
    mrvn::ConfigFile file(argv[1]);
    if (!file.WriteValue(argv[2], argv[3], argv[4])) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
