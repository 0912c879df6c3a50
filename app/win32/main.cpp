// The program: see app/win32/program.h. It takes no command line.

#include "app/win32/program.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return vorsa::app::program_main();
}
