#include "programversion.h"

#include <cstdio>
#include <cstring>

namespace ProgramVersion {

const char *text()
{
    return TESSORA_VERSION;
}

bool printIfAsked(const char *program, int argc, char *argv[])
{
    if (argc != 2 || std::strcmp(argv[1], "--version") != 0)
        return false;
    std::printf("%s %s\n", program, text());
    return true;
}

} // namespace ProgramVersion
