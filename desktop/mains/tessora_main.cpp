#include "tessoraapp.h"

int main(int argc, char *argv[])
{
    return runTessora(argc, argv);
}
