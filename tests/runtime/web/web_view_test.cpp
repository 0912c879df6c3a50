// The web view on the offscreen platform, with local servers standing in for the vendor's server and
// for other services on the machine.
//
// The web engine reads its command line and environment once per process, and runs pages only in its
// sandbox, which cannot run as root. So every test runs its body in a child process of its own, with an
// application of its own: as the user running the tests or, when that is root (CI), as "nobody"; only
// the test of the root user keeps root.

#include "runtime/text/gbk.h"
#include "runtime/web/notice_view.h"
#include "runtime/web/web_view.h"
#include "tests/online/local_http_server.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorsa::runtime {
namespace {

using namespace literals;
using online::testing::Behaviour;
using online::testing::LocalHttpServer;
using online::testing::Reply;

char* g_program = nullptr;

enum class RunAs
{
    user, // "nobody" when the tests run as root
    root,
};

// Environment variables the child process starts with; an empty value removes one.
using Environment = std::vector<std::pair<std::string, std::string>>;

// The user "nobody" with the group "nogroup"; nullopt where there is none.
std::optional<std::pair<uid_t, gid_t>> nobody_ids()
{
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) return std::nullopt;
    const group* nogroup = ::getgrnam("nogroup");
    return std::pair{nobody->pw_uid, nogroup ? nogroup->gr_gid : nobody->pw_gid};
}

void become(uid_t user, gid_t group)
{
    if (::setgroups(0, nullptr) != 0 || ::setresgid(group, group, group) != 0 ||
        ::setresuid(user, user, user) != 0 || ::geteuid() != user) {
        std::fprintf(stderr, "could not change the user\n");
        std::_Exit(3);
    }
}

const ::testing::TestResult& current_result()
{
    return *::testing::UnitTest::GetInstance()->current_test_info()->result();
}

// Whether a check failed after the first `checks_before` ones of the running test.
bool failed_since(int checks_before)
{
    const ::testing::TestResult& result = current_result();
    for (int i = checks_before; i < result.total_part_count(); ++i)
        if (result.GetTestPartResult(i).failed()) return true;
    return false;
}

// Runs `body` in a child process with its own QApplication and a home folder of its own, and expects
// it to end normally with no failed check. The child's failures are printed as they happen.
void in_child(RunAs who, const Environment& environment, const std::function<void()>& body)
{
    const bool drop = who == RunAs::user && ::geteuid() == 0;
    const auto nobody = nobody_ids();
    ASSERT_TRUE(!drop || nobody) << "there is no user nobody to run the test as";
    char home[] = "/tmp/vorsa-web-test-XXXXXX";
    ASSERT_NE(::mkdtemp(home), nullptr);
    if (drop) {
        ASSERT_EQ(::chown(home, nobody->first, nobody->second), 0);
    }
    std::fflush(nullptr);
    // The child inherits the failures of earlier rows; it answers for its own only.
    const int checks_before = current_result().total_part_count();
    const pid_t child = ::fork();
    if (child == 0) {
        if (drop) become(nobody->first, nobody->second);
        ::setenv("HOME", home, 1);
        ::setenv("XDG_RUNTIME_DIR", home, 1);
        for (const auto& [name, value] : environment)
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        char* argv[] = {g_program, nullptr};
        int argc = 1;
        {
            prepare_web_views();
            QApplication application(argc, argv);
            application.setQuitOnLastWindowClosed(false);
            body();
            std::fflush(nullptr);
            // The engine's processes end with ours; nothing is torn down on the way out.
            std::_Exit(failed_since(checks_before) ? 1 : 0);
        }
    }
    std::error_code ignored;
    if (child == -1) std::filesystem::remove_all(home, ignored);
    ASSERT_NE(child, -1);
    int status = 0;
    QElapsedTimer clock;
    clock.start();
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && clock.elapsed() < 240000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        std::filesystem::remove_all(home, ignored);
        FAIL() << "the child process did not end within 240 s";
    }
    std::filesystem::remove_all(home, ignored);
    ASSERT_TRUE(WIFEXITED(status)) << "the child process ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child process failed (its output is above)";
}

// Runs the event loop until `done` holds or the time is up; true when it held.
bool wait_for(const std::function<bool()>& done, int milliseconds = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

std::optional<QString> page_text(QWebEngineView* view)
{
    std::optional<QString> text;
    view->page()->toPlainText([&](const QString& plain) { text = plain; });
    if (!wait_for([&] { return text.has_value(); })) return std::nullopt;
    return text;
}

// Writes `html` and waits for the load to end; true when it ended.
bool write_and_wait(WebView& web, const Text& html)
{
    std::optional<bool> finished;
    const auto connection = QObject::connect(web.view(), &QWebEngineView::loadFinished, web.view(),
                                             [&](bool ok) { finished = ok; });
    web.write_web_document(html);
    const bool ended = wait_for([&] { return finished.has_value(); });
    QObject::disconnect(connection);
    return ended;
}

// Dialogs and menus that appear while it watches: their class names. Each is closed at once, so that
// a modal one does not hold the test.
class DialogWatch
{
public:
    DialogWatch()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (!widget->isVisible() || !(qobject_cast<QDialog*>(widget) || qobject_cast<QMenu*>(widget)))
                    continue;
                m_seen.push_back(widget->metaObject()->className());
                widget->close();
            }
        });
        m_timer.start(5);
    }
    const std::vector<std::string>& seen() const { return m_seen; }

private:
    QTimer m_timer;
    std::vector<std::string> m_seen;
};

// The ids and names of the processes the web engine started for this one.
std::vector<std::pair<long, std::string>> engine_processes()
{
    std::vector<std::pair<long, std::string>> found;
    std::vector<long> ours{static_cast<long>(::getpid())};
    std::vector<std::pair<long, long>> parents;
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        std::ifstream file(entry.path() / "stat");
        std::string stat;
        if (!std::getline(file, stat)) continue;
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        const long id = std::atol(stat.c_str());
        const long parent = std::atol(stat.c_str() + close + 4);
        parents.emplace_back(id, parent);
        names.push_back(stat.substr(stat.find('(') + 1, close - stat.find('(') - 1));
    }
    for (bool added = true; added;) {
        added = false;
        for (std::size_t i = 0; i < parents.size(); ++i)
            if (std::find(ours.begin(), ours.end(), parents[i].first) == ours.end() &&
                std::find(ours.begin(), ours.end(), parents[i].second) != ours.end()) {
                ours.push_back(parents[i].first);
                found.emplace_back(parents[i].first, names[i]);
                added = true;
            }
    }
    return found;
}

// A field of /proc/<id>/status ("VmData", "Seccomp") as a number; nullopt when the process is gone.
std::optional<long> status_field(long id, const std::string& field)
{
    std::ifstream file("/proc/" + std::to_string(id) + "/status");
    for (std::string line; std::getline(file, line);)
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return std::nullopt;
}

// Gone, or a zombie its parent has not collected yet.
bool process_ended(long id)
{
    std::ifstream file("/proc/" + std::to_string(id) + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) return true;
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

TEST(WebViewTest, ShowsADocumentInItsRectangleAndGoesAway)
{
    in_child(RunAs::user, {}, [] {
        QWidget window;
        window.resize(540, 420);
        window.show();
        WebView web;
        EXPECT_FALSE(web.write_web_document("<p>x</p>"));
        ASSERT_TRUE(web.create_web_view(&window, "about:blank", 180, 8, 340, 400));
        EXPECT_FALSE(web.create_web_view(&window, "about:blank", 0, 0, 10, 10)); // one view per object
        ASSERT_NE(web.view(), nullptr);
        EXPECT_EQ(web.view()->geometry(), QRect(180, 8, 340, 400));
        EXPECT_EQ(web.view()->parentWidget(), &window);
        EXPECT_TRUE(web.is_visible());

        ASSERT_TRUE(write_and_wait(
            web, "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\"></head>"
                 "<body>公告：飞岩 云途</body></html>"_gbk));
        const auto text = page_text(web.view());
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(text->trimmed(), QString::fromUtf8("公告：飞岩 云途"));

        web.set_visible(false);
        EXPECT_FALSE(web.is_visible());
        const QPointer<QWebEngineView> view = web.view();
        web.destroy();
        EXPECT_TRUE(view.isNull());
        EXPECT_EQ(web.view(), nullptr);
        EXPECT_FALSE(web.is_visible());
        EXPECT_FALSE(web.write_web_document("<p>x</p>"));
    });
}

// Every way a page can reach out without a script, against three listeners: the vendor's server (the
// only one allowed, named 0.0.0.0 so that a proxy would be asked for it), another service on the machine,
// and a proxy named in http_proxy. The vendor's server must see exactly the requests listed.
TEST(WebViewTest, PageLoadsFromTheVendorServerOnlyAndDirectly)
{
    in_child(RunAs::user, {}, [] {
        LocalHttpServer vendor;
        LocalHttpServer other;
        LocalHttpServer proxy;
        const Reply gif{200, "OK", {{"Content-Type", "image/gif"}}, "GIF89a\x01\x00\x01\x00\x00\x00\x00;"};
        vendor.set_fallback(gif);
        vendor.set_reply("/redirect", online::testing::redirect_reply(other.address() + "/moved.gif"));
        vendor.set_reply("/frame.htm", Reply{200, "OK", {{"Content-Type", "text/html"}}, "<p>frame</p>"});
        other.set_fallback(gif);
        proxy.set_fallback(gif);
        ::setenv("http_proxy", proxy.address().c_str(), 1);
        ::setenv("HTTP_PROXY", proxy.address().c_str(), 1);
        const std::string server = "http://0.0.0.0:" + std::to_string(vendor.port());

        struct Row
        {
            const char* what;
            std::string body;                  // %V: the vendor's address, %O: the other service's
            std::vector<std::string> expected; // request lines the vendor must see
        };
        const std::vector<Row> rows = {
            {"pictures", "<img src='%V/a.gif'><img src='%O/a.gif'>", {"GET /a.gif HTTP/1.1"}},
            {"style sheet and its pictures",
             "<link rel=stylesheet href='%O/s.css'><div style=\"background:url('%O/b.png')\">x</div>"
             "<img src='%V/b.gif'>",
             {"GET /b.gif HTTP/1.1"}},
            {"frames",
             "<iframe src='%O/f.htm'></iframe><iframe src='%V/frame.htm'></iframe>",
             {"GET /frame.htm HTTP/1.1"}},
            {"prefetch and preconnect",
             "<link rel=prefetch href='%O/next.htm'><link rel=preconnect href='%O'><img src='%V/c.gif'>",
             {"GET /c.gif HTTP/1.1"}},
            {"scripts, fetch and WebSocket",
             "<script src='%O/s.js'></script><script>fetch('%O/fetch');new WebSocket('%W');"
             "var i=new Image();i.src='%O/i.gif'</script><img src='%V/d.gif'>",
             {"GET /d.gif HTTP/1.1"}},
            {"redirect away from the vendor", "<img src='%V/redirect'>", {"GET /redirect HTTP/1.1"}},
            {"other schemes",
             "<img src='file:///etc/hostname'><img src='https://127.0.0.1:%P/h.gif'>"
             "<img src='%V/e.gif'>",
             {"GET /e.gif HTTP/1.1"}},
            {"refresh to another host",
             "<meta http-equiv=refresh content='0;url=%O/refresh'><img src='%V/f.gif'>",
             {"GET /f.gif HTTP/1.1"}},
        };

        QWidget window;
        window.resize(540, 420);
        window.show();
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            std::string body = row.body;
            const auto replace = [&body](const std::string& key, const std::string& value) {
                for (auto at = body.find(key); at != std::string::npos;
                     at = body.find(key, at + value.size()))
                    body.replace(at, key.size(), value);
            };
            replace("%V", server);
            replace("%O", other.address());
            replace("%W", "ws://127.0.0.1:" + std::to_string(other.port()) + "/");
            replace("%P", std::to_string(other.port()));
            const std::size_t before = vendor.request_count();
            WebView web(server);
            ASSERT_TRUE(web.create_web_view(&window, "about:blank", 180, 8, 340, 400));
            ASSERT_TRUE(write_and_wait(web, "<html><body>" + body + "</body></html>"));
            // What the vendor sees arrives on the server's threads: waited for.
            const bool seen =
                wait_for([&] { return vendor.request_count() >= before + row.expected.size(); });
            const auto lines = vendor.request_lines();
            EXPECT_TRUE(seen) << "the vendor's server saw " << lines.size() - before << " request(s)";
            EXPECT_EQ(
                std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
                row.expected);
            EXPECT_EQ(other.request_count(), 0u) << other.request_lines().back();
            EXPECT_EQ(proxy.request_count(), 0u) << proxy.request_lines().back();
        }
    });
}

// Scripts do not run, so they open no dialog; nor does anything the user clicks in the page. Each row
// loads a page (%V: the vendor's address), clicks (or not) in the middle of the view, and checks that no
// dialog or menu appeared, that the page stayed, and that its title is the one written.
TEST(WebViewTest, PageOpensNoDialogAndStays)
{
    in_child(RunAs::user, {}, [] {
        LocalHttpServer vendor;
        vendor.set_fallback(Reply{200, "OK", {{"Content-Type", "text/html"}}, "<title>moved</title>"});
        struct Row
        {
            const char* what;
            std::string body;
            std::optional<Qt::MouseButton> click;
        };
        const char* fill = " style='position:fixed;left:0;top:0;width:100%;height:100%;display:block'";
        const std::vector<Row> rows = {
            {"script dialogs",
             "<script>alert('a');confirm('b');prompt('c');print();window.open('about:blank');"
             "document.title='ran';location.href='%V/away'</script>",
             std::nullopt},
            {"file input", std::string("<input type=file") + fill + ">", Qt::LeftButton},
            {"context menu", "<p>text</p>", Qt::RightButton},
            {"link", std::string("<a href='%V/link'") + fill + ">link</a>", Qt::LeftButton},
            {"form", std::string("<form action='%V/form'><input type=submit") + fill + "></form>",
             Qt::LeftButton},
        };
        QWidget window;
        window.resize(540, 420);
        window.show();
        DialogWatch watch;
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            std::string body = row.body;
            for (auto at = body.find("%V"); at != std::string::npos; at = body.find("%V"))
                body.replace(at, 2, vendor.address());
            WebView web(vendor.address());
            ASSERT_TRUE(web.create_web_view(&window, "about:blank", 180, 8, 340, 400));
            ASSERT_TRUE(write_and_wait(web, "<html><head><title>shown</title></head><body>" + body +
                                                "</body></html>"));
            if (row.click) {
                QWidget* content = web.view()->focusProxy();
                ASSERT_NE(content, nullptr);
                QTest::mouseMove(content, QPoint(170, 200));
                QTest::mouseClick(content, *row.click, {}, QPoint(170, 200));
            }
            // The page answers in order: two questions after the click, it has dealt with the click.
            ASSERT_TRUE(page_text(web.view()).has_value());
            ASSERT_TRUE(page_text(web.view()).has_value());
            EXPECT_EQ(web.view()->title().toStdString(), "shown");
            EXPECT_EQ(web.view()->url().toString().toStdString(), "about:blank");
        }
        EXPECT_EQ(vendor.request_lines(), std::vector<std::string>{});
        EXPECT_EQ(watch.seen(), std::vector<std::string>{});
    });
}

// The first preview hides the notice for good: the view goes, and with it the page's renderer process.
TEST(WebViewTest, HiddenNoticeViewIsReleasedWithItsRenderer)
{
    in_child(RunAs::user, {}, [] {
        QWidget window;
        window.resize(540, 420);
        window.show();
        const auto notice = make_notice_view(&window, "<p>notice</p>", {}, 180, 8, 340, 400);
        ASSERT_NE(notice, nullptr);
        const QPointer<QWebEngineView> view = notice->web_view().view();
        ASSERT_FALSE(view.isNull());
        EXPECT_EQ(view->parentWidget(), &window);
        EXPECT_TRUE(notice->is_visible());
        ASSERT_TRUE(
            wait_for([&] { return view->page()->renderProcessPid() > 0 && page_text(view).has_value(); }));
        const long renderer = static_cast<long>(view->page()->renderProcessPid());
        ASSERT_FALSE(process_ended(renderer));

        notice->set_visible(false);
        EXPECT_TRUE(view.isNull());
        EXPECT_FALSE(notice->is_visible());
        EXPECT_TRUE(wait_for([&] { return process_ended(renderer); })) << "renderer " << renderer;
        notice->set_visible(true); // hidden for good
        EXPECT_FALSE(notice->is_visible());
    });
}

// A page whose frame streams an endless document from the vendor's server grows its renderer without
// end; the limit ends the renderer instead. Every engine process is watched until the renderer ended
// (the sound outcome) or one of them went past the limit.
TEST(WebViewTest, RendererEndsAtTheMemoryLimit)
{
    in_child(RunAs::user, {}, [] {
        LocalHttpServer vendor;
        Reply endless;
        endless.headers = {{"Content-Type", "text/html"}};
        endless.behaviour = Behaviour::endless;
        endless.endless_bytes = std::size_t{64} << 30;
        vendor.set_reply("/endless.htm", endless);
        QWidget window;
        window.resize(540, 420);
        window.show();
        WebView web(vendor.address());
        ASSERT_TRUE(web.create_web_view(&window, "about:blank", 180, 8, 340, 400));
        bool ended = false;
        QObject::connect(web.view()->page(), &QWebEnginePage::renderProcessTerminated, web.view(),
                         [&ended] { ended = true; });
        web.write_web_document("<iframe src='" + vendor.address() + "/endless.htm'></iframe>");
        const long limit_kib = static_cast<long>(web_process_memory_limit >> 10);
        long largest_kib = 0;
        std::string largest;
        const bool settled = wait_for(
            [&] {
                for (const auto& [id, name] : engine_processes())
                    if (const auto data = status_field(id, "VmData"); data && *data > largest_kib) {
                        largest_kib = *data;
                        largest = name + " " + std::to_string(id);
                    }
                return ended || largest_kib > limit_kib;
            },
            180000);
        EXPECT_TRUE(settled);
        EXPECT_TRUE(ended);
        EXPECT_LE(largest_kib, limit_kib) << largest;
    });
}

// The engine's environment variables do not turn the renderer's sandbox off. A sandboxed renderer is a
// process of its own under a seccomp filter.
TEST(WebViewTest, RendererRunsInItsSandboxWhateverTheEnvironmentSays)
{
    const std::vector<Environment> rows = {
        {{"QTWEBENGINE_DISABLE_SANDBOX", "1"}},
        {{"QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox"}},
    };
    for (const Environment& environment : rows) {
        SCOPED_TRACE(environment.front().first);
        in_child(RunAs::user, environment, [] {
            QWidget window;
            window.resize(540, 420);
            window.show();
            WebView web;
            ASSERT_TRUE(web.create_web_view(&window, "about:blank", 180, 8, 340, 400));
            ASSERT_TRUE(write_and_wait(web, "<p>x</p>"));
            const qint64 renderer = web.view()->page()->renderProcessPid();
            ASSERT_GT(renderer, 0);
            EXPECT_NE(renderer, ::getpid());
            EXPECT_EQ(status_field(renderer, "Seccomp"), 2); // a filter is installed
        });
    }
}

// As root the engine's sandbox cannot run: no view is made and the engine never starts (it would end
// the process), so the window keeps its title picture.
TEST(WebViewTest, RootGetsNoViewAndKeepsRunning)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs the root user";
    in_child(RunAs::root, {}, [] {
        QWidget window;
        window.resize(540, 420);
        window.show();
        WebView web;
        EXPECT_FALSE(web.create_web_view(&window, "about:blank", 180, 8, 340, 400));
        EXPECT_EQ(web.view(), nullptr);
        EXPECT_EQ(make_notice_view(&window, "<p>notice</p>", {}, 180, 8, 340, 400), nullptr);
        EXPECT_TRUE(window.findChildren<QWebEngineView*>().isEmpty());
        EXPECT_TRUE(engine_processes().empty());
    });
}

} // namespace
} // namespace vorsa::runtime

// Under AddressSanitizer: the web engine (a library built without it) frees some of its objects through
// a base of another size, which the sanitizer reports as a mismatch, and it and the font library keep
// process-wide objects to the end. Neither is code of ours.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt6WebEngineCore\nleak:libfontconfig\n";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    vorsa::runtime::g_program = argv[0];
    return RUN_ALL_TESTS();
}
