// Start-up from the request for the notice page to the brand lists ready (online_refresh over the Qt
// sources), against a local server that answers each request after 100 ms, and against one that
// never answers. Each case runs with the logos fetched side by side (the program's way) and one after
// another, in the same run, so the ratio can be read off directly.
//
//   online_bench [benchmark options]
//
// Arguments of each case: online brands, fetching (0 side by side, 1 one after another). The silent
// server uses a 500 ms inactivity time-out instead of the program's 18 s, so that the case finishes;
// its times are best read in time-outs.
//
//   online_bench --usable-window [quick runs, default 15] [slow runs, default 3]
//
// Time from process start to a usable window (shown, exposed, enabled, its event queue idle) of the
// program's own start-up with its real time limits, against a local server that answers at once, one
// that never answers, one that trickles 20 bytes a second and a port that refuses, with the offline
// start (no server) as the baseline, all started alternately in the same run. Each start is a process
// of its own (this program again, with --window-start) in a fresh directory whose settings file
// remembers two online brands. The silent and trickling servers cost the whole time limit, so they run
// `slow runs` times, the others `quick runs` times.

#include "app/main_window.h"
#include "bench/child_output.h"
#include "online/qt/qt_sources.h"
#include "runtime/print/printer.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/settings/settings.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/qt_interaction.h"
#include "tests/online/local_http_server.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vorsa;
using namespace std::chrono_literals;
using online::testing::Behaviour;
using online::testing::LocalHttpServer;
using online::testing::Reply;

constexpr auto answer_delay = 100ms;
constexpr auto silent_timeout = 500ms;

// The Qt sources with the batch fetched one URL after another, as a plain loop of requests would.
class OneAfterAnotherSources : public online::QtOnlineSources
{
public:
    using QtOnlineSources::QtOnlineSources;
    explicit OneAfterAnotherSources(online::HttpSettings settings)
        : QtOnlineSources(nullptr, settings), m_settings(settings)
    {
    }
    std::vector<runtime::Bytes> fetch_all(const std::vector<runtime::Text>& urls) override
    {
        std::vector<runtime::Bytes> bodies;
        for (const runtime::Text& url : urls) {
            runtime::Text method;
            runtime::Text headers;
            bodies.push_back(
                online::http_request_bytes(url, method, std::nullopt, headers, {}, nullptr, m_settings));
        }
        return bodies;
    }

private:
    online::HttpSettings m_settings;
};

runtime::Text brand_list(int count)
{
    runtime::Text list;
    for (int i = 0; i < count; ++i)
        list += "," + runtime::gbk_from_utf8("品牌" + std::to_string(i));
    return list;
}

std::string settings_path()
{
    return (std::filesystem::temp_directory_path() /
            ("vorsa_online_bench_" + std::to_string(::getpid()) + ".cfg"))
        .string();
}

void run_refresh(benchmark::State& state, LocalHttpServer& server, const online::HttpSettings& settings,
                 const runtime::Text& stored_brands)
{
    const int brands = static_cast<int>(state.range(0));
    const bool one_after_another = state.range(1) != 0;
    const std::vector<runtime::Bytes> logos = online::builtin_logos();
    const std::string path = settings_path();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(path);
        if (!stored_brands.empty()) runtime::write_setting(path, "pingpai", "onlinepingpai", stored_brands);
        online::QtOnlineSources side_by_side(nullptr, settings);
        OneAfterAnotherSources in_turn(settings);
        online::OnlineSources& sources =
            one_after_another ? static_cast<online::OnlineSources&>(in_turn) : side_by_side;
        state.ResumeTiming();

        const online::OnlineBrands result = online::online_refresh(sources, path, server.address(), logos);
        if (static_cast<int>(result.brand_names.size()) != 5 + brands)
            state.SkipWithError("brand list incomplete");
        benchmark::DoNotOptimize(result);
    }
    std::filesystem::remove(path);
    state.SetLabel(one_after_another ? "one after another" : "side by side");
}

void BM_StartAnswering(benchmark::State& state)
{
    const int brands = static_cast<int>(state.range(0));
    LocalHttpServer server;
    Reply page;
    page.body = "<!--" + brand_list(brands).substr(brands > 0 ? 1 : 0) + "-->" + "<html>notice</html>";
    page.delay = answer_delay;
    server.set_reply("/tarnwick/plendor/xiaopiao.htm", page);
    Reply logo;
    logo.body = runtime::text_of(online::builtin_logos().at(0));
    logo.delay = answer_delay;
    server.set_fallback(logo);
    run_refresh(state, server, online::HttpSettings{}, {});
}

void BM_StartSilent(benchmark::State& state)
{
    LocalHttpServer server;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    server.set_fallback(silent);
    online::HttpSettings settings;
    settings.inactivity_timeout = silent_timeout;
    // The page does not come, so the brands remembered by an earlier start are offered.
    run_refresh(state, server, settings, brand_list(static_cast<int>(state.range(0))));
}

void cases(benchmark::internal::Benchmark* benchmark)
{
    for (int brands : {0, 5, 20})
        for (int one_after_another : {0, 1})
            benchmark->Args({brands, one_after_another});
    benchmark->ArgNames({"brands", "in_turn"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_StartAnswering)->Apply(cases)->Iterations(5);
BENCHMARK(BM_StartSilent)->Apply(cases)->Iterations(1);

// ---- Time to a usable window, process by process.

long long monotonic_ns()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// The child: the program's start as program_main runs it (application, platform services, printer
// list from the spooler), without the web view, whose loading is not the network's cost. Prints the
// milliseconds from the driver's fork (VORSA_BENCH_T0) to the window usable, then closes it.
int window_start(int argc, char** argv, const char* server_address)
{
    QApplication application(argc, argv);
    runtime::install_qt_platform();
    runtime::install_qt_interaction();
    runtime::Printer printer;
    app::StartOptions options;
    options.server_address = server_address;
    options.online_sources = online::make_http_sources;
    options.printers = runtime::list_printers;
    options.printer = &printer;

    // Looked at every millisecond, also while the start waits inside the window's creation handler.
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&probe] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<runtime::MainDialog*>(widget);
            if (!window || !window->isVisible() || !window->isEnabled() || !window->windowHandle() ||
                !window->windowHandle()->isExposed())
                continue;
            probe.stop();
            // A zero timer fires once the events queued until now have been handled.
            QTimer::singleShot(0, window, [window] {
                const char* start = std::getenv("VORSA_BENCH_T0");
                std::printf("%.3f\n",
                            start ? static_cast<double>(monotonic_ns() - std::atoll(start)) / 1e6 : -1.0);
                std::fflush(stdout);
                window->close();
            });
            return;
        }
    });
    probe.start(1);
    return app::start_program(options);
}

struct Server
{
    const char* name;
    std::string address; // empty: the offline start
    bool slow;
    std::vector<double> samples{};
};

// One start in a fresh directory; the milliseconds to a usable window, or a negative value.
double time_one_start(const std::string& self, const std::string& address)
{
    char pattern[] = "/tmp/vorsa-online-start-XXXXXX";
    const char* directory = mkdtemp(pattern);
    if (!directory) return -1;
    const std::string settings = std::string(directory) + "/dy.cfg";
    runtime::write_setting(settings, "pingpai", "onlinepingpai", runtime::gbk_from_utf8(",飞岩,云途"));

    int output[2];
    if (pipe(output) != 0) return -1;
    const long long started = monotonic_ns();
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        if (chdir(directory) != 0) _exit(126);
        setenv("VORSA_BENCH_T0", std::to_string(started).c_str(), 1);
        alarm(120);
        execl(self.c_str(), self.c_str(), "--window-start", address.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    const std::string text = vorsa::bench::read_until_closed(output[0]);
    close(output[0]);
    int status = 0;
    waitpid(child, &status, 0);
    std::filesystem::remove_all(directory);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::atof(text.c_str());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int usable_window_table(int quick_runs, int slow_runs)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();

    LocalHttpServer answering;
    Reply page;
    page.body = runtime::gbk_from_utf8("<!--飞岩,云途-->") + "<html><body>notice</body></html>";
    answering.set_reply(std::string(online::notice_page_path), page);
    Reply logo;
    logo.body = runtime::text_of(online::builtin_logos().at(0));
    answering.set_fallback(logo);

    LocalHttpServer silent;
    Reply nothing;
    nothing.behaviour = Behaviour::silent;
    silent.set_fallback(nothing);

    // 20 bytes a second, a byte every 50 ms: far inside the inactivity time-out, far beyond the limit.
    LocalHttpServer trickling;
    Reply trickle = page;
    trickle.body += std::string(4096, ' ');
    trickle.behaviour = Behaviour::drip;
    trickle.drip_interval = 50ms;
    trickling.set_fallback(trickle);

    std::vector<Server> servers = {
        {"offline start (baseline)", "", false},
        {"server answering at once", answering.address(), false},
        {"server refusing connections", "http://127.0.0.1:" + std::to_string(LocalHttpServer::refused_port()),
         false},
        {"server silent", silent.address(), true},
        {"server trickling 20 bytes/s", trickling.address(), true},
    };
    // One warm-up start of each quick kind, then the rounds, each kind in turn.
    for (const Server& server : servers)
        if (!server.slow) time_one_start(self, server.address);
    for (int round = 0; round < std::max(quick_runs, slow_runs); ++round) {
        for (Server& server : servers) {
            if (round >= (server.slow ? slow_runs : quick_runs)) continue;
            const double ms = time_one_start(self, server.address);
            if (ms <= 0) {
                std::fprintf(stderr, "%s: the start did not reach a usable window\n", server.name);
                return 1;
            }
            server.samples.push_back(ms);
        }
    }

    const double baseline = median(servers[0].samples);
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("platform %s; medians of %d starts (%d for the slow servers), min and max in brackets\n\n",
                platform ? platform : "(default)", quick_runs, slow_runs);
    std::printf(
        "| server | time to a usable window | ratio to offline | beyond offline |\n|---|---|---|---|\n");
    for (const Server& server : servers) {
        const double m = median(server.samples);
        const auto [low, high] = std::minmax_element(server.samples.begin(), server.samples.end());
        std::printf("| %s | %.1f ms (%.1f-%.1f) | %.2fx | %+.1f ms |\n", server.name, m, *low, *high,
                    m / baseline, m - baseline);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--window-start") == 0) return window_start(1, argv, argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "--usable-window") == 0)
        return usable_window_table(argc > 2 ? std::max(1, std::atoi(argv[2])) : 15,
                                   argc > 3 ? std::max(1, std::atoi(argv[3])) : 3);
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
