// The program: see app/program.h.

#include "app/program.h"

int main(int argc, char* argv[])
{
    return vorsa::app::program_main(argc, argv);
}
