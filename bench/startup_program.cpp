// The program under the start-up benchmark: exactly what main() runs, ended by the idle probe.

#include "app/qt/program.h"
#include "bench/startup_probe.h"

int main(int argc, char* argv[])
{
    return vorsa::app::program_main(argc, argv, vorsa::bench::install_idle_probe);
}
