#include "vatnodeapp.h"

int main(int argc, char *argv[])
{
    return runVatnode(argc, argv);
}
