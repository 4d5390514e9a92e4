#include "boardsimapp.h"

int main(int argc, char *argv[])
{
    return runBoardSimulator(argc, argv);
}
