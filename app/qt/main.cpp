// The program: see app/qt/program.h.

#include "app/qt/program.h"

int main(int argc, char* argv[])
{
    return vorsa::app::program_main(argc, argv);
}
