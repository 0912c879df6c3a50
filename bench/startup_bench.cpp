// Start-up of the program against a bare Qt Widgets program showing one empty dialog, in the same run:
// each is started alternately, from process start to its dialog exposed with an idle event queue
// (measured by the probe inside) and to process exit (measured here), with the peak resident memory
// the kernel reports for the child. Every run starts in the same empty directory, so the program starts
// as for the first time, offline.
//
// Usage: startup_bench [runs, default 30]; the platform comes from QT_QPA_PLATFORM (offscreen, or xcb
// under xvfb-run).

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

struct Sample {
    double to_idle_ms = 0;
    double to_exit_ms = 0;
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
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(output[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return false;
    sample.to_exit_ms = (monotonic_ns() - started) / 1e6;
    sample.to_idle_ms = std::atof(text.c_str());
    sample.peak_kb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && sample.to_idle_ms > 0;
}

template <class Value>
Value median(std::vector<Value> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Summary {
    double to_idle_ms;
    double to_idle_min_ms;
    double to_exit_ms;
    long peak_kb;
};

Summary summarise(const std::vector<Sample>& samples)
{
    std::vector<double> idle;
    std::vector<double> exit;
    std::vector<long> peak;
    for (const Sample& s : samples) {
        idle.push_back(s.to_idle_ms);
        exit.push_back(s.to_exit_ms);
        peak.push_back(s.peak_kb);
    }
    return {median(idle), *std::min_element(idle.begin(), idle.end()), median(exit), median(peak)};
}

} // namespace

int main(int argc, char* argv[])
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    char pattern[] = "/tmp/vorsa-startup-XXXXXX";
    const char* directory = mkdtemp(pattern);
    if (!directory) return 1;

    const struct {
        const char* name;
        const char* path;
    } programs[] = {{"bare dialog", VORSA_STARTUP_BARE}, {"vorsa-receipt", VORSA_STARTUP_PROGRAM}};
    std::vector<Sample> samples[2];
    constexpr int warm_up = 2;
    for (int i = 0; i < warm_up + runs; ++i) {
        for (int p = 0; p < 2; ++p) {
            // Alternate which one goes first, so that neither always follows the other.
            const int which = (i % 2 == 0) ? p : 1 - p;
            Sample sample;
            if (!run(programs[which].path, directory, sample)) {
                std::fprintf(stderr, "%s did not start cleanly\n", programs[which].name);
                return 1;
            }
            if (i >= warm_up) samples[which].push_back(sample);
        }
    }
    rmdir(directory);

    const Summary bare = summarise(samples[0]);
    const Summary program = summarise(samples[1]);
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("%d runs each, platform %s; medians (minimum of the time to idle in brackets)\n\n", runs,
                platform ? platform : "(default)");
    std::printf("| | window shown, queue idle | process exit | peak memory |\n|---|---|---|---|\n");
    for (const auto& [name, s] : {std::pair{programs[0].name, bare}, std::pair{programs[1].name, program}})
        std::printf("| %s | %.1f ms (%.1f) | %.1f ms | %.1f MB |\n", name, s.to_idle_ms, s.to_idle_min_ms,
                    s.to_exit_ms, s.peak_kb / 1024.0);
    std::printf("| ratio | %.2fx | %.2fx | %.2fx |\n", program.to_idle_ms / bare.to_idle_ms,
                program.to_exit_ms / bare.to_exit_ms, static_cast<double>(program.peak_kb) / bare.peak_kb);
    return 0;
}
