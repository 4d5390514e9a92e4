#include "boardsimapp.h"
#include "programversion.h"

int main(int argc, char *argv[])
{
    if (ProgramVersion::printIfAsked("vatnode-boardsim", argc, argv))
        return 0;
    return runBoardSimulator(argc, argv);
}
