#include "vatnodeapp.h"
#include "programversion.h"

int main(int argc, char *argv[])
{
    if (ProgramVersion::printIfAsked("vatnode", argc, argv))
        return 0;
    return runVatnode(argc, argv);
}
