// Start-up of the program against two Qt Widgets programs, in the same run: the form-only program (the
// least Qt program that shows the same window: its form with the same texts and fonts, and the title
// picture; see startup_form.cpp), which is the anchor, and a bare program showing one empty dialog. They
// are started in turn, each round in another order, from process start to the dialog exposed with an idle
// event queue (measured by the probe inside) and to process exit (measured here), with the peak resident
// memory the kernel reports for the child. Every run starts in the same empty directory, so the program
// starts as for the first time.
//
// Usage: startup_bench [runs, default 30] [[name=]program...]; the platform comes from QT_QPA_PLATFORM
// (offscreen, or xcb under xvfb-run). Programs given here replace this build's startup_program, each
// with a row of its own: the program of a build with a vendor server, or earlier builds to compare.

#include "bench/child_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Sample
{
    double to_idle_ms = 0;
    double to_exit_ms = 0;
    double cpu_ms = 0;
    long peak_kb = 0;
};

long long monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

bool run(const char* program, const std::string& directory, Sample& sample)
{
    int output[2];
    if (pipe(output) != 0) return false;
    const long long started = monotonic_ns();
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        if (chdir(directory.c_str()) != 0) _exit(126);
        setenv("VORSA_BENCH_T0", std::to_string(started).c_str(), 1);
        // A start that never reaches an idle window is ended by the alarm (it survives the exec).
        alarm(60);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    const std::string text = vorsa::bench::read_until_closed(output[0]);
    close(output[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return false;
    sample.to_exit_ms = static_cast<double>(monotonic_ns() - started) / 1e6;
    sample.to_idle_ms = std::atof(text.c_str());
    sample.peak_kb = usage.ru_maxrss;
    sample.cpu_ms = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && sample.to_idle_ms > 0;
}

template <class Value> Value median(std::vector<Value> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Summary
{
    double to_idle_ms = 0;
    double to_idle_min_ms = 0;
    double to_exit_ms = 0;
    double cpu_ms = 0;
    long peak_kb = 0;
};

Summary summarise(const std::vector<Sample>& samples)
{
    std::vector<double> idle;
    std::vector<double> exit;
    std::vector<double> cpu;
    std::vector<long> peak;
    for (const Sample& s : samples) {
        idle.push_back(s.to_idle_ms);
        exit.push_back(s.to_exit_ms);
        cpu.push_back(s.cpu_ms);
        peak.push_back(s.peak_kb);
    }
    return {median(idle), *std::min_element(idle.begin(), idle.end()), median(exit), median(cpu),
            median(peak)};
}

} // namespace

int main(int argc, char* argv[])
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    char pattern[] = "/tmp/vorsa-startup-XXXXXX";
    const char* directory = mkdtemp(pattern);
    if (!directory) return 1;

    struct Program
    {
        std::string name;
        std::string path;
    };
    std::vector<Program> programs = {{"form only (anchor)", VORSA_STARTUP_FORM},
                                     {"bare dialog", VORSA_STARTUP_BARE}};
    if (argc > 2) {
        for (int i = 2; i < argc; ++i) {
            // "name=path", or a path that names itself; the path made absolute, as the runs start elsewhere.
            const std::string given = argv[i];
            const std::size_t equals = given.find('=');
            const std::string path = equals == std::string::npos ? given : given.substr(equals + 1);
            char* absolute = realpath(path.c_str(), nullptr);
            if (!absolute) {
                std::fprintf(stderr, "no program %s\n", path.c_str());
                return 1;
            }
            programs.push_back({equals == std::string::npos ? given : given.substr(0, equals), absolute});
            std::free(absolute);
        }
    } else {
        programs.push_back({"vorsa-receipt", VORSA_STARTUP_PROGRAM});
    }
    const std::size_t count = programs.size();
    std::vector<std::vector<Sample>> samples(count);
    constexpr int warm_up = 2;
    for (int i = 0; i < warm_up + runs; ++i) {
        for (std::size_t p = 0; p < count; ++p) {
            // Each round starts with another one, so that none always follows the same one.
            const std::size_t which = (p + static_cast<std::size_t>(i)) % count;
            Sample sample;
            if (!run(programs[which].path.c_str(), directory, sample)) {
                std::fprintf(stderr, "%s did not start cleanly\n", programs[which].name.c_str());
                return 1;
            }
            if (i >= warm_up) samples[which].push_back(sample);
        }
    }
    rmdir(directory);

    std::vector<Summary> summary;
    for (const std::vector<Sample>& s : samples)
        summary.push_back(summarise(s));
    const Summary& anchor = summary[0];
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("%d runs each, platform %s; medians (minimum of the time to idle in brackets), ratios to the "
                "form-only program\n\n",
                runs, platform ? platform : "(default)");
    std::printf("| | window shown, queue idle | process exit | CPU time | peak memory |\n");
    std::printf("|---|---|---|---|---|\n");
    for (std::size_t p = 0; p < count; ++p) {
        const Summary& s = summary[p];
        std::printf("| %s | %.1f ms (%.1f) %.2fx | %.1f ms %.2fx | %.1f ms %.2fx | %.1f MB %.2fx |\n",
                    programs[p].name.c_str(), s.to_idle_ms, s.to_idle_min_ms,
                    s.to_idle_ms / anchor.to_idle_ms, s.to_exit_ms, s.to_exit_ms / anchor.to_exit_ms,
                    s.cpu_ms, s.cpu_ms / anchor.cpu_ms, static_cast<double>(s.peak_kb) / 1024.0,
                    static_cast<double>(s.peak_kb) / static_cast<double>(anchor.peak_kb));
    }
    return 0;
}
