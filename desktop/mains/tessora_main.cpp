#include "tessoraapp.h"
#include "programversion.h"

int main(int argc, char *argv[])
{
    if (ProgramVersion::printIfAsked("tessora", argc, argv))
        return 0;
    return runTessora(argc, argv);
}
