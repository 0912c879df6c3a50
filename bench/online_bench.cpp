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
//
//   online_bench --hostile [runs, default 3] [only the cases whose name contains this text]
//
// The same start against servers that send what no vendor would: 600 remembered brands and a server
// that refuses, a page listing 20 000 brands, a page of 10 MB, logos that decode to 4000 x 4000 pixels,
// logos of 15 MB, 400 000 header lines, 6000 large cookies. Each start runs with the usual limit of
// 1024 open files; the table gives the time to a usable window, the peak memory and the most open
// descriptors seen, against the offline start of the same run.

#include "app/qt/qt_counter_window.h"
#include "bench/child_output.h"
#include "online/qt/qt_sources.h"
#include "runtime/print/printer.h"
#include "runtime/qt/qt_platform.h"
#include "runtime/settings/settings.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/qt_interaction.h"
#include "tests/online/local_http_server.h"

#include <QApplication>
#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
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
#include <sys/resource.h>
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

// The process's resident memory at its peak since it was started (exec resets it), in MB.
double peak_resident_mb()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    std::fclose(status);
    return static_cast<double>(kb) / 1024.0;
}

int open_descriptors()
{
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
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
    int most_descriptors = 0;
    QObject::connect(&probe, &QTimer::timeout, [&probe, &most_descriptors] {
        most_descriptors = std::max(most_descriptors, open_descriptors());
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<runtime::MainDialog*>(widget);
            if (!window || !window->isVisible() || !window->isEnabled() || !window->windowHandle() ||
                !window->windowHandle()->isExposed())
                continue;
            probe.stop();
            // A zero timer fires once the events queued until now have been handled.
            QTimer::singleShot(0, window, [window, &most_descriptors] {
                const char* start = std::getenv("VORSA_BENCH_T0");
                std::printf("%.3f %d %.1f\n",
                            start ? static_cast<double>(monotonic_ns() - std::atoll(start)) / 1e6 : -1.0,
                            std::max(most_descriptors, open_descriptors()), peak_resident_mb());
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

struct StartFigures
{
    double ms = -1;      // to a usable window; negative when it was not reached
    double peak_mb = 0;  // resident memory at its peak, up to the window usable
    int descriptors = 0; // the most open at once that the child saw
};

// One start in a fresh directory whose settings file remembers `remembered` as online brands, with the
// limit of open files at `open_files` when given; its figures.
StartFigures measure_start(const std::string& self, const std::string& address,
                           const runtime::Text& remembered, rlim_t open_files = 0)
{
    char pattern[] = "/tmp/vorsa-online-start-XXXXXX";
    const char* directory = mkdtemp(pattern);
    if (!directory) return {};
    const std::string settings = std::string(directory) + "/dy.cfg";
    runtime::write_setting(settings, "pingpai", "onlinepingpai", remembered);

    int output[2];
    if (pipe(output) != 0) return {};
    const long long started = monotonic_ns();
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        if (chdir(directory) != 0) _exit(126);
        if (open_files > 0) {
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = std::min(open_files, limit.rlim_max);
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        setenv("VORSA_BENCH_T0", std::to_string(started).c_str(), 1);
        alarm(600);
        execl(self.c_str(), self.c_str(), "--window-start", address.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    const std::string text = vorsa::bench::read_until_closed(output[0]);
    close(output[0]);
    int status = 0;
    waitpid(child, &status, 0);
    std::filesystem::remove_all(directory);
    StartFigures figures;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return figures;
    std::sscanf(text.c_str(), "%lf %d %lf", &figures.ms, &figures.descriptors, &figures.peak_mb);
    return figures;
}

// One start in a fresh directory; the milliseconds to a usable window, or a negative value.
double time_one_start(const std::string& self, const std::string& address)
{
    return measure_start(self, address, runtime::gbk_from_utf8(",飞岩,云途")).ms;
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

// ---- Servers that send what no vendor would.

std::string picture_bytes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(30, 120, 200));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data.toStdString();
}

std::string numbered_brands(int count)
{
    std::string names;
    for (int i = 0; i < count; ++i)
        names += (i ? "," : "") + runtime::gbk_from_utf8("品牌") + std::to_string(i);
    return names;
}

struct HostileCase
{
    const char* name;
    std::unique_ptr<LocalHttpServer> server; // none: the offline start
    runtime::Text remembered;
    std::string address{};
    std::vector<StartFigures> starts{};
};

std::unique_ptr<LocalHttpServer> server_with(Reply page, Reply logo)
{
    auto server = std::make_unique<LocalHttpServer>();
    server->set_reply(std::string(online::notice_page_path), std::move(page));
    server->set_fallback(std::move(logo));
    return server;
}

Reply page_listing(const std::string& names)
{
    Reply page;
    page.body = "<!--" + names + "-->" + "<html><body>notice</body></html>";
    return page;
}

int hostile_table(int runs, const std::string& only)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const runtime::Text two_brands = runtime::gbk_from_utf8(",飞岩,云途");
    Reply small_logo;
    small_logo.body = runtime::text_of(online::builtin_logos().at(0));

    std::vector<HostileCase> cases;
    cases.push_back({"offline start (baseline)", nullptr, two_brands});
    cases.push_back({"answering at once, 2 brands", server_with(page_listing(numbered_brands(2)), small_logo),
                     two_brands});
    {
        HostileCase refusing{"600 brands remembered, connections refused", nullptr,
                             "," + numbered_brands(600)};
        refusing.address = "http://127.0.0.1:" + std::to_string(LocalHttpServer::refused_port());
        cases.push_back(std::move(refusing));
    }
    cases.push_back({"page of 140 kB listing 20 000 brands",
                     server_with(page_listing(numbered_brands(20000)), small_logo), two_brands});
    {
        std::string names;
        for (int i = 0; names.size() < 10u * 1024 * 1024; ++i)
            names += (i ? ",b" : "b") + std::to_string(i);
        cases.push_back({"page of 10 MB listing 1.15 M brands", server_with(page_listing(names), small_logo),
                         two_brands});
    }
    {
        Reply bomb;
        bomb.body = picture_bytes(4000, 4000);
        cases.push_back({"40 logos of 4000 x 4000 pixels",
                         server_with(page_listing(numbered_brands(40)), bomb), two_brands});
    }
    {
        Reply heavy;
        heavy.body = picture_bytes(200, 120) + std::string(15u * 1024 * 1024, '\0');
        cases.push_back(
            {"100 logos of 15 MB", server_with(page_listing(numbered_brands(100)), heavy), two_brands});
    }
    {
        Reply flood = page_listing(numbered_brands(2));
        for (int i = 0; i < 400000; ++i)
            flood.headers.emplace_back("X-" + std::to_string(i), "1");
        cases.push_back({"page with 400 000 header lines", server_with(flood, small_logo), two_brands});
    }
    {
        Reply cookies = page_listing(numbered_brands(2));
        for (int i = 0; i < 6000; ++i)
            cookies.headers.emplace_back("Set-Cookie",
                                         "c" + std::to_string(i) + "=" + std::string(4000, 'v'));
        cases.push_back({"page with 6000 cookies of 4 kB", server_with(cookies, small_logo), two_brands});
    }
    // The offline start stays: it is the baseline.
    if (!only.empty())
        cases.erase(std::remove_if(cases.begin() + 1, cases.end(),
                                   [&only](const HostileCase& c) {
                                       return std::string(c.name).find(only) == std::string::npos;
                                   }),
                    cases.end());
    for (HostileCase& c : cases)
        if (c.server) c.address = c.server->address();

    measure_start(self, "", two_brands, 1024); // warm-up
    for (int round = 0; round < runs; ++round) {
        for (HostileCase& c : cases) {
            const StartFigures figures = measure_start(self, c.address, c.remembered, 1024);
            if (figures.ms <= 0)
                std::fprintf(stderr, "%s: the start did not reach a usable window\n", c.name);
            c.starts.push_back(figures);
        }
    }

    const auto median_of = [](const std::vector<StartFigures>& starts, auto field) {
        std::vector<double> values;
        for (const StartFigures& figures : starts)
            values.push_back(static_cast<double>(figures.*field));
        return median(values);
    };
    const double base_ms = median_of(cases[0].starts, &StartFigures::ms);
    const double base_mb = median_of(cases[0].starts, &StartFigures::peak_mb);
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("platform %s; medians of %d starts each, limit of open files 1024\n\n",
                platform ? platform : "(default)", runs);
    std::printf("| server | usable after | ratio to offline | peak memory | above offline | descriptors |\n"
                "|---|---|---|---|---|---|\n");
    for (const HostileCase& c : cases) {
        bool all_usable = true;
        for (const StartFigures& figures : c.starts)
            all_usable = all_usable && figures.ms > 0;
        const double ms = median_of(c.starts, &StartFigures::ms);
        const double mb = median_of(c.starts, &StartFigures::peak_mb);
        std::printf("| %s | %s%.1f ms | %.2fx | %.1f MB | %+.1f MB | %.0f |\n", c.name,
                    all_usable ? "" : "(not every start) ", ms, ms / base_ms, mb, mb - base_mb,
                    median_of(c.starts, &StartFigures::descriptors));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--window-start") == 0) return window_start(1, argv, argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "--hostile") == 0)
        return hostile_table(argc > 2 ? std::max(1, std::atoi(argv[2])) : 3, argc > 3 ? argv[3] : "");
    if (argc >= 2 && std::strcmp(argv[1], "--usable-window") == 0)
        return usable_window_table(argc > 2 ? std::max(1, std::atoi(argv[2])) : 15,
                                   argc > 3 ? std::max(1, std::atoi(argv[3])) : 3);
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
