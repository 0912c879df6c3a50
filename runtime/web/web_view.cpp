#include "runtime/web/web_view.h"

#include "runtime/qt/qt_text.h"

#include <QCoreApplication>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QWidget>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace vorsa::runtime {

namespace {

int default_port(const QString& scheme)
{
    if (scheme == QLatin1String("http")) return 80;
    if (scheme == QLatin1String("https")) return 443;
    return -1;
}

// Whether the page may load `url`: the document the program writes (a data: address), blank frames,
// and the one server, by scheme, host and port.
bool allowed_address(const QUrl& url, const QUrl& server)
{
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("data") || scheme == QLatin1String("about")) return true;
    return server.isValid() && !server.host().isEmpty() && scheme == server.scheme() &&
           url.host() == server.host() && url.port(default_port(scheme)) == server.port(default_port(scheme));
}

// Every request of the page (documents, frames, sub-resources, WebSockets, redirects) passes here
// before it is made.
class ServerOnly : public QWebEngineUrlRequestInterceptor
{
public:
    ServerOnly(QUrl server, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), m_server(std::move(server))
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (!allowed_address(info.requestUrl(), m_server)) info.block(true);
    }

private:
    QUrl m_server;
};

// A page that is shown, not run: no script, no plugin, no window, no dialog, no navigation but the
// program's own.
class NoticePage : public QWebEnginePage
{
public:
    NoticePage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent)
    {
        QWebEngineSettings* s = settings();
        // A notice is text and pictures. Without scripts the page opens no dialog, runs no loop or
        // timer, and reaches nothing the request rules do not see (WebRTC, for one, would).
        s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
        s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
        s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
        s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
        s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);

        connect(this, &QWebEnginePage::featurePermissionRequested, this,
                [this](const QUrl& origin, Feature feature) {
                    setFeaturePermission(origin, feature, PermissionDeniedByUser);
                });
        connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
                [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
                [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
        connect(this, &QWebEnginePage::fullScreenRequested, this,
                [](QWebEngineFullScreenRequest request) { request.reject(); });
    }

protected:
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

    // Only the program's own loads (typed, in the main frame) and the frames the page embeds, whose
    // addresses the request rules check; never a link followed, a form sent, a reload or a step back.
    bool acceptNavigationRequest(const QUrl&, NavigationType type, bool is_main_frame) override
    {
        if (is_main_frame) return type == NavigationTypeTyped;
        return type != NavigationTypeLinkClicked && type != NavigationTypeFormSubmitted;
    }

    // A file input the user clicks opens no file chooser.
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override { return {}; }

    // Scripts are off; should one ever run, it shows no dialog and gets no answer.
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
};

// The server as the network stack names it, "host:port" ("[::1]:80" for an IPv6 address); empty for
// none.
QByteArray host_and_port(const QUrl& server)
{
    if (!server.isValid() || server.host().isEmpty()) return {};
    const QString host = server.host().contains(u':') ? u'[' + server.host() + u']' : server.host();
    return (host + u':' + QString::number(server.port(default_port(server.scheme())))).toUtf8();
}

// The engine reads its command line (QTWEBENGINE_CHROMIUM_FLAGS) and settings from the environment
// when it starts: ours alone, from the first view's server.
// - The network stack resolves no host but the server's (host and port): every other name or address
//   fails as unknown. It holds where the request rules come too late: a redirect is followed before
//   their answer.
// - Connections are made directly, as the program's HTTP client makes them, whatever proxy the
//   environment names.
// - Nothing switches the sandbox off or opens the page to a debugger.
void configure_engine_once(const QUrl& server)
{
    static bool configured = false;
    if (configured) return;
    configured = true;
    const QByteArray allowed = host_and_port(server);
    const QByteArray rules =
        (allowed.isEmpty() ? QByteArray() : "MAP " + allowed + ' ' + allowed + ", ") + "MAP * ~NOTFOUND";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-proxy-server --host-resolver-rules=\"" + rules + '"');
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
}

struct ProcessEntry
{
    long parent = 0;
    std::string name;
};

// The running processes from /proc: parent and name (as in /proc/<pid>/stat) by process id.
std::map<long, ProcessEntry> process_table()
{
    std::map<long, ProcessEntry> table;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string id_text = entry.path().filename().string();
        long id = 0;
        if (std::from_chars(id_text.data(), id_text.data() + id_text.size(), id).ec != std::errc{}) continue;
        std::ifstream file(entry.path() / "stat");
        std::string stat;
        if (!std::getline(file, stat)) continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses, so the last ')' ends it.
        const auto open = stat.find('(');
        const auto close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        long parent = 0;
        const char* fields = stat.data() + close + 2;
        const char* end = stat.data() + stat.size();
        if (fields + 2 >= end) continue;
        std::from_chars(fields + 2, end, parent); // skips the one-letter state
        table[id] = {parent, stat.substr(open + 1, close - open - 1)};
    }
    return table;
}

// The engine forks every renderer from its zygote processes, which it starts with the profile: a limit on
// them holds for every renderer to come. Private memory is what a page's content grows (document,
// layout, decoded text); a process that needs more than the limit allows ends.
void limit_engine_processes()
{
    const auto table = process_table();
    std::set<long> ours{static_cast<long>(::getpid())};
    // Parents come before their children in no guaranteed order: repeat until nothing is added.
    for (bool added = true; added;) {
        added = false;
        for (const auto& [id, entry] : table)
            if (!ours.count(id) && ours.count(entry.parent)) added = ours.insert(id).second;
    }
    for (const long id : ours) {
        const auto found = table.find(id);
        if (found == table.end() || found->second.name.rfind("QtWebEngine", 0) != 0) continue;
        rlimit limit{};
        if (::prlimit(static_cast<pid_t>(id), RLIMIT_DATA, nullptr, &limit) != 0) continue;
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, web_process_memory_limit);
        limit.rlim_max = std::min<rlim_t>(limit.rlim_max, web_process_memory_limit);
        ::prlimit(static_cast<pid_t>(id), RLIMIT_DATA, &limit, nullptr);
    }
}

} // namespace

void prepare_web_views()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

WebView::WebView(const Text& server) : m_server(to_qstring(server)) {}

WebView::~WebView()
{
    destroy();
}

bool WebView::create_web_view(QWidget* parent, const Text& address, int x, int y, int width, int height)
{
    if (m_view || !web_views_allowed()) return false;
    configure_engine_once(QUrl(m_server));
    // A profile of the view's own, off the record (it keeps nothing on disk), carries the request rules;
    // the engine starts with the first one.
    m_profile = new QWebEngineProfile;
    m_profile->setUrlRequestInterceptor(new ServerOnly(QUrl(m_server), m_profile));
    limit_engine_processes();

    m_view = new QWebEngineView(parent);
    // The page is the view's child and goes with it, before the profile (destroy()).
    m_view->setPage(new NoticePage(m_profile, m_view));
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
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

QWebEngineView* WebView::view() const
{
    return m_view;
}

void WebView::destroy()
{
    delete m_view.data();
    delete m_profile.data();
}

} // namespace vorsa::runtime
