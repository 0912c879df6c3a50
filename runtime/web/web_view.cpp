#include "runtime/web/web_view.h"

#include "runtime/qt/qt_text.h"

#include <QCoreApplication>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

namespace vorsa::runtime {

namespace {

// A page that opens no windows and follows no link into local files or resources.
class NoticePage : public QWebEnginePage
{
public:
    explicit NoticePage(QObject* parent) : QWebEnginePage(parent)
    {
        QWebEngineSettings* s = settings();
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    }

protected:
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        const QString scheme = url.scheme().toLower();
        return scheme != QLatin1String("file") && scheme != QLatin1String("qrc");
    }
};

} // namespace

void prepare_web_views()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

WebView::~WebView()
{
    destroy();
}

bool WebView::create_web_view(QWidget* parent, const Text& address, int x, int y, int width, int height)
{
    if (m_view) return false;
    m_view = new QWebEngineView(parent);
    // The page is the view's child and goes with it; it uses the default profile, which keeps nothing
    // on disk.
    m_view->setPage(new NoticePage(m_view));
    m_view->setGeometry(x, y, width, height);
    if (!address.empty()) m_view->setUrl(QUrl(to_qstring(address)));
    m_view->show();
    return true;
}

bool WebView::write_web_document(const Text& html)
{
    if (!m_view) return false;
    m_view->setHtml(to_qstring(html), QUrl(QStringLiteral("about:blank")));
    return true;
}

void WebView::set_visible(bool shown)
{
    if (m_view) m_view->setVisible(shown);
}

bool WebView::is_visible() const
{
    return m_view && m_view->isVisible();
}

void WebView::destroy()
{
    delete m_view.data();
}

} // namespace vorsa::runtime
