#include "runtime/print/printer.h"

#include "runtime/text/chars.h"
#include "runtime/text/gbk.h"
#include "runtime/text/numbers.h"
#include "runtime/text/unicode.h"

#include <QBuffer>
#include <QByteArray>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

// Only the types and declarations: the library itself is loaded on first use (see CupsLibrary).
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cups/cups.h>
#include <dlfcn.h>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace vorsa::runtime {

namespace {

using Clock = std::chrono::steady_clock;

// A spooler that is down refuses the connection at once; these bound the waits of the connections the
// program opens itself. The library's own connections wait up to a minute; the time limit below bounds
// what the window waits for all of them together.
constexpr int connect_timeout_ms = 3000;
constexpr double answer_timeout_s = 10.0;

// The paper the program falls back to when neither the request nor the queue names one.
constexpr int a4_width = 2100;
constexpr int a4_length = 2970;

// Size fields of the request are 16-bit values in 0.1 mm.
constexpr int largest_length = 32767;

// ---------------------------------------------------------------------------------------------------
// The spooler's client library, loaded when the spooler is first needed: mapping it (with its TLS,
// Kerberos and service-discovery libraries) costs every start, and most starts never print.

struct CupsLibrary
{
    decltype(&::cupsServer) server = nullptr;
    decltype(&::ippPort) port = nullptr;
    decltype(&::cupsEncryption) encryption = nullptr;
    decltype(&::cupsUser) user = nullptr;
    decltype(&::cupsSetServer) set_server = nullptr;
    decltype(&::cupsSetEncryption) set_encryption = nullptr;
    decltype(&::cupsSetUser) set_user = nullptr;
    decltype(&::httpConnect2) connect = nullptr;
    decltype(&::httpSetTimeout) set_timeout = nullptr;
    decltype(&::httpClose) close = nullptr;
    decltype(&::cupsGetDests2) get_dests = nullptr;
    decltype(&::cupsFreeDests) free_dests = nullptr;
    decltype(&::cupsGetDefault2) get_default = nullptr;
    decltype(&::cupsGetNamedDest) get_named_dest = nullptr;
    decltype(&::cupsCopyDestInfo) copy_dest_info = nullptr;
    decltype(&::cupsFreeDestInfo) free_dest_info = nullptr;
    decltype(&::cupsFindDestDefault) find_dest_default = nullptr;
    decltype(&::ippGetValueTag) get_value_tag = nullptr;
    decltype(&::ippGetResolution) get_resolution = nullptr;
    decltype(&::ippGetString) get_string = nullptr;
    decltype(&::pwgMediaForPWG) media_for_pwg = nullptr;
    decltype(&::pwgMediaForLegacy) media_for_legacy = nullptr;
    decltype(&::cupsAddOption) add_option = nullptr;
    decltype(&::cupsFreeOptions) free_options = nullptr;
    decltype(&::cupsCreateDestJob) create_dest_job = nullptr;
    decltype(&::cupsCreateJob) create_job = nullptr;
    decltype(&::cupsStartDocument) start_document = nullptr;
    decltype(&::cupsWriteRequestData) write_request_data = nullptr;
    decltype(&::cupsFinishDocument) finish_document = nullptr;
    decltype(&::cupsCancelJob2) cancel_job = nullptr;
    decltype(&::ippNewRequest) new_request = nullptr;
    decltype(&::ippAddString) add_string = nullptr;
    decltype(&::ippAddBoolean) add_boolean = nullptr;
    decltype(&::cupsDoRequest) do_request = nullptr;
    decltype(&::ippDelete) delete_ipp = nullptr;
    decltype(&::cupsLastError) last_error = nullptr;
};

template <class Function> bool resolve(void* handle, const char* symbol, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(handle, symbol));
    return function != nullptr;
}

// Nothing when the library is missing or lacks a function the program uses.
std::unique_ptr<CupsLibrary> load_cups(const std::string& file)
{
    // Lazily bound: the program calls a few of the library's functions, and binding all of them (and
    // of its TLS and Kerberos libraries that allow it) when the list of printers is first asked for,
    // at every start, cost about 4.5 M instructions.
    void* handle = ::dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto cups = std::make_unique<CupsLibrary>();
    CupsLibrary& c = *cups;
    const bool complete =
        resolve(handle, "cupsServer", c.server) && resolve(handle, "ippPort", c.port) &&
        resolve(handle, "cupsEncryption", c.encryption) && resolve(handle, "cupsUser", c.user) &&
        resolve(handle, "cupsSetServer", c.set_server) &&
        resolve(handle, "cupsSetEncryption", c.set_encryption) &&
        resolve(handle, "cupsSetUser", c.set_user) && resolve(handle, "httpConnect2", c.connect) &&
        resolve(handle, "httpSetTimeout", c.set_timeout) && resolve(handle, "httpClose", c.close) &&
        resolve(handle, "cupsGetDests2", c.get_dests) && resolve(handle, "cupsFreeDests", c.free_dests) &&
        resolve(handle, "cupsGetDefault2", c.get_default) &&
        resolve(handle, "cupsGetNamedDest", c.get_named_dest) &&
        resolve(handle, "cupsCopyDestInfo", c.copy_dest_info) &&
        resolve(handle, "cupsFreeDestInfo", c.free_dest_info) &&
        resolve(handle, "cupsFindDestDefault", c.find_dest_default) &&
        resolve(handle, "ippGetValueTag", c.get_value_tag) &&
        resolve(handle, "ippGetResolution", c.get_resolution) &&
        resolve(handle, "ippGetString", c.get_string) && resolve(handle, "pwgMediaForPWG", c.media_for_pwg) &&
        resolve(handle, "pwgMediaForLegacy", c.media_for_legacy) &&
        resolve(handle, "cupsAddOption", c.add_option) &&
        resolve(handle, "cupsFreeOptions", c.free_options) &&
        resolve(handle, "cupsCreateDestJob", c.create_dest_job) &&
        resolve(handle, "cupsCreateJob", c.create_job) &&
        resolve(handle, "cupsStartDocument", c.start_document) &&
        resolve(handle, "cupsWriteRequestData", c.write_request_data) &&
        resolve(handle, "cupsFinishDocument", c.finish_document) &&
        resolve(handle, "cupsCancelJob2", c.cancel_job) && resolve(handle, "ippNewRequest", c.new_request) &&
        resolve(handle, "ippAddString", c.add_string) && resolve(handle, "ippAddBoolean", c.add_boolean) &&
        resolve(handle, "cupsDoRequest", c.do_request) && resolve(handle, "ippDelete", c.delete_ipp) &&
        resolve(handle, "cupsLastError", c.last_error);
    // The library stays mapped for good even when incomplete: threads given up on may still be in it.
    if (!complete) return nullptr;
    return cups;
}

// Which library to load and the outcome of loading it. Never destroyed: a conversation given up on may
// still be running in the library while the process exits.
struct SpoolerSettings
{
    std::mutex mutex;
    std::string library_file = SpoolerHooks{}.library;
    bool tried = false;
    const CupsLibrary* library = nullptr;
    std::vector<std::unique_ptr<CupsLibrary>> loaded;
    std::atomic<std::int64_t> time_limit_ms{default_spooler_time_limit.count()};
};

SpoolerSettings& spooler_settings()
{
    static auto* settings = new SpoolerSettings;
    return *settings;
}

// The library, loaded on the first call; nothing when it cannot be loaded.
const CupsLibrary* cups_library()
{
    SpoolerSettings& settings = spooler_settings();
    std::lock_guard lock(settings.mutex);
    if (!settings.tried) {
        settings.tried = true;
        if (auto loaded = load_cups(settings.library_file)) {
            settings.library = loaded.get();
            settings.loaded.push_back(std::move(loaded));
        }
    }
    return settings.library;
}

Clock::time_point deadline_from_now()
{
    return Clock::now() + std::chrono::milliseconds(spooler_settings().time_limit_ms.load());
}

// The spooler the calling thread talks to (the library keeps server, encryption and user per thread),
// so that a conversation on a thread of its own reaches the same spooler as its caller.
struct ClientSettings
{
    std::string server;
    int port = 0;
    http_encryption_t encryption = HTTP_ENCRYPTION_IF_REQUESTED;
    std::string user;

    static ClientSettings current(const CupsLibrary& cups)
    {
        ClientSettings client;
        if (const char* server = cups.server()) client.server = server;
        client.port = cups.port();
        client.encryption = cups.encryption();
        if (const char* user = cups.user()) client.user = user;
        return client;
    }
    void apply(const CupsLibrary& cups) const
    {
        // A local socket's path takes no port; a host name does.
        const std::string address =
            server.empty() || server.front() == '/' ? server : server + ":" + std::to_string(port);
        cups.set_server(address.empty() ? nullptr : address.c_str());
        cups.set_encryption(encryption);
        cups.set_user(user.empty() ? nullptr : user.c_str());
    }
};

// Whether the caller has stopped waiting for a conversation.
class GivenUp
{
public:
    virtual ~GivenUp() = default;
    virtual bool operator()() const = 0;
};

// Runs `work(given_up)` on a thread of its own, talking to the caller's spooler, and waits for its
// result until `deadline`. When the deadline passes first the caller goes on without it: the thread
// finishes alone, and its result is released there (connections closed, a job it opened withdrawn).
// Nothing also when no thread can be started.
template <class Result, class Work>
std::optional<Result> converse(const CupsLibrary& cups, Work work, Clock::time_point deadline)
{
    struct Shared final : GivenUp
    {
        mutable std::mutex mutex;
        std::condition_variable finished;
        std::optional<Result> result;
        bool done = false;
        bool abandoned = false;
        bool operator()() const override
        {
            std::lock_guard lock(mutex);
            return abandoned;
        }
    };
    auto shared = std::make_shared<Shared>();
    const ClientSettings client = ClientSettings::current(cups);
    try {
        std::thread([shared, &cups, client, work = std::move(work)]() mutable {
            client.apply(cups);
            std::optional<Result> result(work(static_cast<const GivenUp&>(*shared)));
            std::unique_lock lock(shared->mutex);
            if (shared->abandoned) return; // the result is released here, outside the caller's sight
            shared->result = std::move(result);
            shared->done = true;
            shared->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(shared->mutex);
    if (!shared->finished.wait_until(lock, deadline, [&] { return shared->done; })) {
        shared->abandoned = true;
        return std::nullopt;
    }
    return std::move(shared->result);
}

int stop_waiting(http_t*, void*)
{
    return 0;
}

// One connection to the spooler with the queue it looked up, and the job opened on it. Released on
// whichever thread holds it last; a job still open then (its document never handed over, or handed over
// after the program gave up waiting) is withdrawn, so nothing is printed that the window did not wait for.
class Session
{
public:
    explicit Session(const CupsLibrary& cups)
        : m_cups(cups), m_http(cups.connect(cups.server(), cups.port(), nullptr, AF_UNSPEC, cups.encryption(),
                                            1, connect_timeout_ms, nullptr))
    {
        if (m_http) m_cups.set_timeout(m_http, answer_timeout_s, stop_waiting, nullptr);
    }
    ~Session()
    {
        if (job_open) m_cups.cancel_job(m_http, queue.c_str(), job_id, 0);
        if (info) m_cups.free_dest_info(info);
        if (dest) m_cups.free_dests(1, dest);
        if (m_http) m_cups.close(m_http);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const CupsLibrary& cups() const { return m_cups; }
    http_t* http() const { return m_http; }
    explicit operator bool() const { return m_http != nullptr; }

    std::string queue;
    cups_dest_t* dest = nullptr;
    cups_dinfo_t* info = nullptr;
    int job_id = 0;
    bool job_open = false;

private:
    const CupsLibrary& m_cups;
    http_t* m_http;
};

// Closes the job's document list: the job then has its whole document and is the queue's to schedule
// (printed, or held where the queue holds every job). The request is the one that closes an open job by
// the printing protocol, an empty "Send-Document" with "last-document", so it needs no other right than
// handing the document over did, where an operation such as "Release-Job" may be the operators' alone.
// True when the spooler agreed.
bool close_job(const Session& session)
{
    const CupsLibrary& cups = session.cups();
    ipp_t* request = cups.new_request(IPP_OP_SEND_DOCUMENT);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(session.job_id);
    cups.add_string(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    cups.add_string(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cups.user());
    cups.add_boolean(request, IPP_TAG_OPERATION, "last-document", 1);
    // The request is the library's from here on, answered or not.
    ipp_t* response = cups.do_request(session.http(), request, "/jobs/");
    if (response) cups.delete_ipp(response);
    return response && cups.last_error() <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

// Spooler names are UTF-8 and may hold characters GBK cannot (a queue "Drucker-Köln"). In a program
// text such a character is written as "\u" and four hexadecimal digits ("\U" and eight beyond the
// 16-bit range): the text survives GBK, the window's lists and the settings file unchanged and maps
// back to the exact name, and as the spooler allows no "\" in a queue name, no real name is ever read
// as one of these. A name GBK can hold is its plain GBK text.
constexpr char escape = '\\';

// The value of a hexadecimal digit, -1 for any other character.
int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code point the escape at `text[at]` stands for and its length; nothing when it is not one.
std::optional<std::pair<char32_t, std::size_t>> escape_at(const Text& text, std::size_t at)
{
    if (text[at] != escape || at + 1 >= text.size()) return std::nullopt;
    const std::size_t digits = text[at + 1] == 'u' ? 4 : text[at + 1] == 'U' ? 8 : 0;
    if (digits == 0 || at + 2 + digits > text.size()) return std::nullopt;
    char32_t value = 0;
    for (std::size_t i = at + 2; i < at + 2 + digits; ++i) {
        const int digit = hex_value(text[i]);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<char32_t>(digit);
    }
    if (value == 0 || value > 0x10FFFF || is_high_surrogate(value) || is_low_surrogate(value))
        return std::nullopt;
    return std::pair{value, digits + 2};
}

std::string hex(char32_t value, int digits)
{
    static const char figures[] = "0123456789ABCDEF";
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        out[static_cast<std::size_t>(i)] = figures[value & 0xF];
    return out;
}

} // namespace

Text printer_text_from_spooler_name(std::string_view utf8)
{
    Text plain = gbk_from_utf8(utf8);
    // GBK writes "?" for what it cannot hold, and the spooler allows no "?" in a name.
    if (plain.find('?') == Text::npos) return plain;
    Text text;
    for (std::size_t at = 0; at < utf8.size();) {
        // A byte that starts no character stays the "?" GBK makes of it: no name maps back to it.
        const std::optional<Utf8Char> character = utf8_char_at(utf8, at);
        const std::string_view bytes = utf8.substr(at, character ? character->length : 1);
        at += bytes.size();
        const Text converted = gbk_from_utf8(bytes);
        if (!character || converted != "?" || bytes == "?") {
            text += converted;
            continue;
        }
        const char32_t value = character->code;
        text += value < 0x10000 ? std::string{escape, 'u'} + hex(value, 4)
                                : std::string{escape, 'U'} + hex(value, 8);
    }
    return text;
}

std::string spooler_name_from_printer_text(const Text& text)
{
    std::string utf8;
    std::size_t plain_from = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (gbk_char_length(text, at) == 2) { // a pair: its trail byte may be "\" (0x5C)
            at += 2;
            continue;
        }
        const auto escaped = escape_at(text, at);
        if (!escaped) {
            ++at;
            continue;
        }
        utf8 += utf8_from_gbk(std::string_view(text).substr(plain_from, at - plain_from));
        append_utf8(utf8, escaped->first);
        at += escaped->second;
        plain_from = at;
    }
    utf8 += utf8_from_gbk(std::string_view(text).substr(std::min(plain_from, text.size())));
    return utf8;
}

namespace {

// The queue's default resolution as its driver reports it (the PPD's DefaultResolution shows up as
// printer-resolution-default), vertical dots per inch.
int reported_resolution(const Session& session)
{
    const CupsLibrary& cups = session.cups();
    ipp_attribute_t* attribute = session.info ? cups.find_dest_default(session.http(), session.dest,
                                                                       session.info, "printer-resolution")
                                              : nullptr;
    if (!attribute || cups.get_value_tag(attribute) != IPP_TAG_RESOLUTION) return fallback_printer_dpi;
    int vertical = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    cups.get_resolution(attribute, 0, &vertical, &units);
    const int dpi = units == IPP_RES_PER_CM ? static_cast<int>(std::lround(vertical * 2.54)) : vertical;
    return dpi > 0 ? dpi : fallback_printer_dpi;
}

// The queue's default paper in 0.1 mm, A4 when it names none the program knows.
std::pair<int, int> default_paper(const Session& session)
{
    const CupsLibrary& cups = session.cups();
    ipp_attribute_t* attribute =
        session.info ? cups.find_dest_default(session.http(), session.dest, session.info, "media") : nullptr;
    const char* keyword = attribute ? cups.get_string(attribute, 0, nullptr) : nullptr;
    pwg_media_t* media = keyword ? cups.media_for_pwg(keyword) : nullptr;
    if (!media && keyword) media = cups.media_for_legacy(keyword);
    if (!media || media->width <= 0 || media->length <= 0) return {a4_width, a4_length};
    // The spooler counts hundredths of a millimetre.
    return {media->width / 10, media->length / 10};
}

// A length in 0.1 mm as the spooler's custom-size text writes millimetres: 1200 gives "120", 1205 "120.5".
std::string millimetres(int tenths)
{
    return to_text(tenths / 10.0);
}

struct PageSetup
{
    QPageLayout layout;
    std::vector<std::pair<std::string, std::string>> options;
};

// The page and the job options for a request; nothing when the request cannot be met.
std::optional<PageSetup> page_setup(const PageRequest& request, std::pair<int, int> queue_paper)
{
    const int orientation = request.orientation.value_or(orientation_portrait);
    if (orientation != orientation_portrait && orientation != orientation_landscape) return std::nullopt;

    PageSetup setup;
    auto [width, length] = queue_paper;
    std::string paper_name;
    if (request.paper_size) {
        const QPageSize paper(QPageSize::id(*request.paper_size));
        if (paper.isValid() && paper.id() != QPageSize::Custom) {
            const QSizeF size = paper.size(QPageSize::Millimeter);
            width = static_cast<int>(std::lround(size.width() * 10));
            length = static_cast<int>(std::lround(size.height() * 10));
            paper_name = paper.key().toStdString();
        }
    }
    if (request.paper_width) width = *request.paper_width;
    if (request.paper_length) length = *request.paper_length;
    if (width < 1 || width > largest_length || length < 1 || length > largest_length) return std::nullopt;

    // A width or length of its own makes a custom page, which wins over any paper name.
    if (request.paper_width || request.paper_length)
        setup.options.emplace_back("media",
                                   "Custom." + millimetres(width) + "x" + millimetres(length) + "mm");
    else if (!paper_name.empty())
        setup.options.emplace_back("media", paper_name);
    if (request.orientation)
        setup.options.emplace_back("orientation-requested", orientation == orientation_portrait ? "3" : "4");

    const QPageSize page(QSizeF(width / 10.0, length / 10.0), QPageSize::Millimeter, QString(),
                         QPageSize::ExactMatch);
    setup.layout = QPageLayout(
        page, orientation == orientation_portrait ? QPageLayout::Portrait : QPageLayout::Landscape,
        QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    return setup;
}

// The spooler's default printer in its own encoding; empty when there is none. Runs on a conversation's
// thread.
std::string spooler_default(const CupsLibrary& cups)
{
    Session session(cups);
    if (!session) return {};
    const char* name = cups.get_default(session.http());
    return name ? name : "";
}

} // namespace

void set_spooler_library(std::string file)
{
    SpoolerSettings& settings = spooler_settings();
    std::lock_guard lock(settings.mutex);
    settings.library_file = std::move(file);
    settings.tried = false;
    settings.library = nullptr;
}

void set_spooler_time_limit(std::chrono::milliseconds limit)
{
    spooler_settings().time_limit_ms = limit.count();
}

SpoolerHooks current_spooler_hooks()
{
    SpoolerSettings& settings = spooler_settings();
    std::lock_guard lock(settings.mutex);
    return {std::chrono::milliseconds(settings.time_limit_ms.load()), settings.library_file};
}

void install_spooler_hooks(const SpoolerHooks& hooks)
{
    set_spooler_time_limit(hooks.time_limit);
    if (current_spooler_hooks().library != hooks.library) set_spooler_library(hooks.library);
}

int list_printers(TextList& names)
{
    const CupsLibrary* cups = cups_library();
    if (!cups) return 0;
    // The listing only reads: a conversation given up on can do no harm when it ends later.
    const auto listed = converse<std::vector<std::string>>(
        *cups,
        [cups](const GivenUp&) {
            std::vector<std::string> queues;
            Session session(*cups);
            if (!session) return queues;
            cups_dest_t* dests = nullptr;
            const int count = cups->get_dests(session.http(), &dests);
            for (int i = 0; i < count; ++i)
                if (!dests[i].instance) queues.emplace_back(dests[i].name);
            cups->free_dests(count, dests);
            return queues;
        },
        deadline_from_now());
    if (!listed || listed->empty()) return 0;
    TextList found;
    for (const std::string& queue : *listed)
        found.push_back(printer_text_from_spooler_name(queue));
    names = std::move(found);
    return static_cast<int>(names.size());
}

Text default_printer_name()
{
    const CupsLibrary* cups = cups_library();
    if (!cups) return {};
    const auto name = converse<std::string>(
        *cups, [cups](const GivenUp&) { return spooler_default(*cups); }, deadline_from_now());
    return name ? printer_text_from_spooler_name(*name) : Text{};
}

// One print job: the session it talks to the spooler on (held by a conversation's thread while one
// runs, and lost with it when the program stops waiting), the queue's resolution and page, the page it
// paints, and the point by which every conversation of the job must have ended.
struct Printer::Job
{
    const CupsLibrary* cups = nullptr;
    std::shared_ptr<Session> session;
    Clock::time_point deadline;
    int dpi = fallback_printer_dpi;
    PageSetup setup;

    QByteArray output;
    QBuffer buffer;
    std::unique_ptr<QPdfWriter> writer;
    QPainter painter;

    std::string title;
    bool document_open = false;
};

namespace {

// What preparing a printer learns from the spooler.
struct PreparedQueue
{
    std::shared_ptr<Session> session;
    int dpi = fallback_printer_dpi;
    std::pair<int, int> paper;
};

// A session handed back by a conversation, with what it says about the work.
struct Outcome
{
    std::shared_ptr<Session> session;
    bool succeeded = false;
};

} // namespace

Printer::Printer() = default;

Printer::~Printer()
{
    close_printer();
}

bool Printer::prepared() const
{
    return m_job != nullptr;
}

int Printer::resolution() const
{
    return m_job ? m_job->dpi : 0;
}

bool Printer::prepare_printer(const std::optional<Text>& name, const PageRequest& request)
{
    close_printer();

    const CupsLibrary* cups = cups_library();
    if (!cups) return false;
    // Every conversation of the job, from this look-up to the hand-over of the document, ends by then.
    const Clock::time_point deadline = deadline_from_now();

    // The queue is asked for by name: an unknown name fails and never falls back to another printer.
    const std::optional<std::string> given =
        name ? std::optional<std::string>(spooler_name_from_printer_text(*name)) : std::nullopt;
    auto prepared = converse<PreparedQueue>(
        *cups,
        [cups, given](const GivenUp&) {
            PreparedQueue found;
            const std::string printer_name = given ? *given : spooler_default(*cups);
            if (printer_name.empty()) return found;
            auto session = std::make_shared<Session>(*cups);
            if (!*session) return found;
            const auto slash = printer_name.find('/');
            const std::string queue = printer_name.substr(0, slash);
            const std::string instance =
                slash == std::string::npos ? std::string() : printer_name.substr(slash + 1);
            session->dest = cups->get_named_dest(session->http(), queue.c_str(),
                                                 instance.empty() ? nullptr : instance.c_str());
            if (!session->dest) return found;
            session->queue = queue;
            // Kept for the job: the document then starts with one request instead of looking the queue
            // up again.
            session->info = cups->copy_dest_info(session->http(), session->dest);
            found.paper = default_paper(*session);
            found.dpi = reported_resolution(*session);
            found.session = std::move(session);
            return found;
        },
        deadline);
    if (!prepared || !prepared->session) return false;

    auto setup = page_setup(request, prepared->paper);
    if (!setup) return false;

    auto job = std::make_unique<Job>();
    job->cups = cups;
    job->session = std::move(prepared->session);
    job->deadline = deadline;
    job->dpi = prepared->dpi;
    job->setup = std::move(*setup);
    m_job = std::move(job);
    if (begin_page()) return true;
    close_printer();
    return false;
}

// A fresh one-page PDF device for the job, with the surface attached to it.
bool Printer::begin_page()
{
    Job& job = *m_job;
    m_surface.detach();
    if (job.painter.isActive()) job.painter.end();
    job.writer.reset();
    job.buffer.close();
    job.output.clear();

    job.buffer.setBuffer(&job.output);
    if (!job.buffer.open(QIODevice::WriteOnly)) return false;
    job.writer = std::make_unique<QPdfWriter>(&job.buffer);
    job.writer->setResolution(job.dpi);
    if (!job.writer->setPageLayout(job.setup.layout)) return false;
    if (!job.painter.begin(job.writer.get())) return false;
    m_surface.attach(*job.writer, job.painter, job.dpi);
    return true;
}

bool Printer::start_document(const Text& document_name)
{
    if (!m_job || m_job->document_open || !m_job->session) return false;
    Job& job = *m_job;
    // A second document on the same device starts on a new page of its own.
    if (!job.painter.isActive() && !begin_page()) return false;

    job.title = utf8_from_gbk(document_name);
    job.writer->setTitle(QString::fromStdString(job.title));
    const CupsLibrary& cups = *job.cups;
    auto outcome = converse<Outcome>(
        cups,
        [session = std::move(job.session), options = job.setup.options,
         title = job.title](const GivenUp&) mutable {
            Session& s = *session;
            const CupsLibrary& c = s.cups();
            cups_option_t* cups_options = nullptr;
            int count = 0;
            for (const auto& [key, value] : options)
                count = c.add_option(key.c_str(), value.c_str(), count, &cups_options);
            // No hold of the program's own: the queue's defaults apply, its hold of every job included.
            // A job created without its document waits for it anyway and prints only once its document
            // list is closed (end_document).
            // cupsCreateJob would look the queue up twice more; the description from prepare_printer
            // serves. The job exists when the spooler names it, whatever it says about the options.
            // Without a description (a spooler that gave none) the plain call tries on its own.
            if (s.info)
                c.create_dest_job(s.http(), s.dest, s.info, &s.job_id, title.c_str(), count, cups_options);
            else
                s.job_id = c.create_job(s.http(), s.queue.c_str(), title.c_str(), count, cups_options);
            c.free_options(count, cups_options);
            s.job_open = s.job_id > 0;
            return Outcome{session, s.job_open};
        },
        job.deadline);
    if (!outcome) return false;
    job.session = std::move(outcome->session);
    job.document_open = outcome->succeeded;
    return job.document_open;
}

bool Printer::end_document()
{
    if (!m_job || !m_job->document_open) return false;
    Job& job = *m_job;
    job.document_open = false;

    // Ending the painter completes the PDF: the one page drawn since the document started.
    const bool painted = job.painter.end() && !job.output.isEmpty();
    m_surface.detach();
    job.buffer.close();
    if (!job.session) return false;

    auto outcome = converse<Outcome>(
        *job.cups,
        [session = std::move(job.session), document = job.output, painted,
         title = job.title](const GivenUp& given_up) mutable {
            Session& s = *session;
            const CupsLibrary& c = s.cups();
            // The document goes over as one that more may follow: the spooler keeps the job open and
            // schedules nothing yet.
            bool handed = false;
            if (painted && !given_up() &&
                c.start_document(s.http(), s.queue.c_str(), s.job_id, title.c_str(), CUPS_FORMAT_PDF, 0) ==
                    HTTP_STATUS_CONTINUE) {
                const bool written =
                    c.write_request_data(s.http(), document.constData(),
                                         static_cast<size_t>(document.size())) == HTTP_STATUS_CONTINUE;
                const bool finished = c.finish_document(s.http(), s.queue.c_str()) == IPP_STATUS_OK;
                handed = written && finished;
            }
            // Once the spooler has it whole, the job is closed while the window still waits for it; from
            // then on it is the queue's to print or to hold, and never withdrawn. Otherwise (no document,
            // a document cut short, a close the spooler did not agree to, or the window gave up before
            // the close) it is withdrawn: an open job would print what it holds when the spooler tires
            // of waiting for the rest.
            const bool closed = handed && !given_up() && close_job(s);
            if (!closed) c.cancel_job(s.http(), s.queue.c_str(), s.job_id, 0);
            s.job_open = false;
            return Outcome{session, closed};
        },
        job.deadline);
    if (!outcome) return false;
    job.session = std::move(outcome->session);
    if (!outcome->succeeded) return false;
    m_last_job_id = job.session->job_id;
    m_last_document.assign(job.output.constBegin(), job.output.constEnd());
    return true;
}

void Printer::close_printer()
{
    m_surface.detach();
    if (!m_job) return;
    Job& job = *m_job;
    if (job.painter.isActive()) job.painter.end();
    // A document still open was never finished: its session withdraws it as it is released, on a thread
    // of its own so that a spooler that hangs cannot hold the window past the job's time.
    if (job.session && job.session->job_open)
        converse<bool>(
            *job.cups,
            [session = std::move(job.session)](const GivenUp&) mutable {
                session.reset();
                return true;
            },
            job.deadline);
    m_job.reset();
}

} // namespace vorsa::runtime
