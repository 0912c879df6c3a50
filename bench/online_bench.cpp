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

#include "online/qt/qt_sources.h"
#include "runtime/text/gbk.h"
#include "runtime/settings/settings.h"
#include "tests/online/local_http_server.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <string>

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
