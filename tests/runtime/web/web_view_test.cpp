// The web view on the offscreen platform. The web engine refuses to start its sandbox as root; the
// test's environment sets QTWEBENGINE_DISABLE_SANDBOX=1 for that case.
#include "runtime/text/gbk.h"
#include "runtime/web/web_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace vorsa::runtime {
namespace {

using namespace literals;

// Runs the event loop until `done` holds or the time is up (far beyond what a busy machine needs); true
// when it held.
bool wait_for(const std::function<bool()>& done, int milliseconds = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
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

std::optional<QVariant> script_result(QWebEngineView* view, const QString& script)
{
    std::optional<QVariant> result;
    view->page()->runJavaScript(script, [&](const QVariant& value) { result = value; });
    if (!wait_for([&] { return result.has_value(); })) return std::nullopt;
    return result;
}

TEST(WebViewTest, ShowsADocumentInItsRectangleAndGoesAway)
{
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

    bool loaded = false;
    QObject::connect(web.view(), &QWebEngineView::loadFinished, &window, [&](bool ok) { loaded = ok; });
    ASSERT_TRUE(web.write_web_document(
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\"></head>"
        "<body>公告：飞岩 云途</body></html>"_gbk));
    if (!wait_for([&] { return loaded; }))
        GTEST_SKIP() << "the web engine loaded nothing within 30 s on this platform";

    const auto text = page_text(web.view());
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->trimmed(), QString::fromUtf8("公告：飞岩 云途"));
    // Scripts of the page open no windows.
    const auto opened = script_result(web.view(), QStringLiteral("window.open('about:blank') === null"));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->toBool(), true);

    web.set_visible(false);
    EXPECT_FALSE(web.is_visible());
    const QPointer<QWebEngineView> view = web.view();
    web.destroy();
    EXPECT_TRUE(view.isNull());
    EXPECT_EQ(web.view(), nullptr);
    EXPECT_FALSE(web.is_visible());
    EXPECT_FALSE(web.write_web_document("<p>x</p>"));
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
    vorsa::runtime::prepare_web_views();
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
