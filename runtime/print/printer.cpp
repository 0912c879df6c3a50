#include "runtime/print/printer.h"

#include "runtime/text/gbk.h"
#include "runtime/text/numbers.h"

#include <QBuffer>
#include <QByteArray>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cups/cups.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace vorsa::runtime {

namespace {

// A spooler that is down refuses the connection at once; these bound the waits on one that hangs.
constexpr int connect_timeout_ms = 3000;
constexpr double answer_timeout_s = 10.0;

// The paper the program falls back to when neither the request nor the queue names one.
constexpr int a4_width = 2100;
constexpr int a4_length = 2970;

// Size fields of the request are 16-bit values in 0.1 mm.
constexpr int largest_length = 32767;

int stop_waiting(http_t*, void*) { return 0; }

// One connection to the local spooler, closed when it goes out of scope.
class Spooler
{
public:
    Spooler()
        : m_http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, connect_timeout_ms,
                              nullptr))
    {
        if (m_http) httpSetTimeout(m_http, answer_timeout_s, stop_waiting, nullptr);
    }
    ~Spooler()
    {
        if (m_http) httpClose(m_http);
    }
    Spooler(const Spooler&) = delete;
    Spooler& operator=(const Spooler&) = delete;

    http_t* http() const { return m_http; }
    explicit operator bool() const { return m_http != nullptr; }

private:
    http_t* m_http;
};

struct Destination
{
    cups_dest_t* dest = nullptr;
    Destination() = default;
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;
    ~Destination()
    {
        if (dest) cupsFreeDests(1, dest);
    }
};

struct DestinationInfo
{
    cups_dinfo_t* info = nullptr;
    DestinationInfo() = default;
    DestinationInfo(const DestinationInfo&) = delete;
    DestinationInfo& operator=(const DestinationInfo&) = delete;
    ~DestinationInfo()
    {
        if (info) cupsFreeDestInfo(info);
    }
};

// "queue" or "queue/instance" in the spooler's encoding.
std::pair<std::string, std::string> queue_and_instance(const Text& name)
{
    const std::string utf8 = utf8_from_gbk(name);
    const auto slash = utf8.find('/');
    if (slash == std::string::npos) return {utf8, {}};
    return {utf8.substr(0, slash), utf8.substr(slash + 1)};
}

// The queue's default resolution as its driver reports it (the PPD's DefaultResolution shows up as
// printer-resolution-default), vertical dots per inch.
int reported_resolution(http_t* http, cups_dest_t* dest, cups_dinfo_t* info)
{
    ipp_attribute_t* attribute = info ? cupsFindDestDefault(http, dest, info, "printer-resolution") : nullptr;
    if (!attribute || ippGetValueTag(attribute) != IPP_TAG_RESOLUTION) return fallback_printer_dpi;
    int vertical = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    ippGetResolution(attribute, 0, &vertical, &units);
    const int dpi = units == IPP_RES_PER_CM ? static_cast<int>(std::lround(vertical * 2.54)) : vertical;
    return dpi > 0 ? dpi : fallback_printer_dpi;
}

// The queue's default paper in 0.1 mm, A4 when it names none the program knows.
std::pair<int, int> default_paper(http_t* http, cups_dest_t* dest, cups_dinfo_t* info)
{
    ipp_attribute_t* attribute = info ? cupsFindDestDefault(http, dest, info, "media") : nullptr;
    const char* keyword = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
    pwg_media_t* media = keyword ? pwgMediaForPWG(keyword) : nullptr;
    if (!media && keyword) media = pwgMediaForLegacy(keyword);
    if (!media || media->width <= 0 || media->length <= 0) return {a4_width, a4_length};
    // The spooler counts hundredths of a millimetre.
    return {media->width / 10, media->length / 10};
}

// A length in 0.1 mm as the spooler's custom-size text writes millimetres: 1200 gives "120", 1205 "120.5".
std::string millimetres(int tenths) { return to_text(tenths / 10.0); }

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
        setup.options.emplace_back("media", "Custom." + millimetres(width) + "x" + millimetres(length) + "mm");
    else if (!paper_name.empty())
        setup.options.emplace_back("media", paper_name);
    if (request.orientation)
        setup.options.emplace_back("orientation-requested", orientation == orientation_portrait ? "3" : "4");

    const QPageSize page(QSizeF(width / 10.0, length / 10.0), QPageSize::Millimeter, QString(),
                         QPageSize::ExactMatch);
    setup.layout = QPageLayout(page,
                               orientation == orientation_portrait ? QPageLayout::Portrait : QPageLayout::Landscape,
                               QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    return setup;
}

} // namespace

int list_printers(TextList& names)
{
    Spooler spooler;
    if (!spooler) return 0;
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(spooler.http(), &dests);
    TextList found;
    for (int i = 0; i < count; ++i)
        if (!dests[i].instance) found.push_back(gbk_from_utf8(dests[i].name));
    cupsFreeDests(count, dests);
    if (found.empty()) return 0;
    names = std::move(found);
    return static_cast<int>(names.size());
}

Text default_printer_name()
{
    Spooler spooler;
    if (!spooler) return {};
    const char* name = cupsGetDefault2(spooler.http());
    return name ? gbk_from_utf8(name) : Text{};
}

// One print job: the spooler connection it runs on, the queue as the spooler described it when the
// printer was prepared, the page it paints and the job it feeds.
struct Printer::Job
{
    Spooler spooler;
    std::string queue;
    Destination destination;
    DestinationInfo info;
    int dpi = fallback_printer_dpi;
    PageSetup setup;

    QByteArray output;
    QBuffer buffer;
    std::unique_ptr<QPdfWriter> writer;
    QPainter painter;

    std::string title;
    int job_id = 0;
    bool document_open = false;
};

Printer::Printer() = default;

Printer::~Printer() { close_printer(); }

bool Printer::prepared() const { return m_job != nullptr; }

int Printer::resolution() const { return m_job ? m_job->dpi : 0; }

bool Printer::prepare_printer(const std::optional<Text>& name, const PageRequest& request)
{
    close_printer();

    const Text printer_name = name ? *name : default_printer_name();
    if (printer_name.empty()) return false;

    auto job = std::make_unique<Job>();
    if (!job->spooler) return false;
    http_t* http = job->spooler.http();

    // Asking the spooler for the queue by name: an unknown name fails here and never falls back to
    // another printer.
    const auto [queue, instance] = queue_and_instance(printer_name);
    cups_dest_t*& dest = job->destination.dest;
    dest = cupsGetNamedDest(http, queue.c_str(), instance.empty() ? nullptr : instance.c_str());
    if (!dest) return false;

    // Kept for the job: the document then starts with one request instead of looking the queue up again.
    job->info.info = cupsCopyDestInfo(http, dest);
    auto setup = page_setup(request, default_paper(http, dest, job->info.info));
    if (!setup) return false;

    job->queue = queue;
    job->dpi = reported_resolution(http, dest, job->info.info);
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
    if (!m_job || m_job->document_open) return false;
    Job& job = *m_job;
    // A second document on the same device starts on a new page of its own.
    if (!job.painter.isActive() && !begin_page()) return false;

    cups_option_t* options = nullptr;
    int count = 0;
    for (const auto& [key, value] : job.setup.options) count = cupsAddOption(key.c_str(), value.c_str(), count, &options);
    job.title = utf8_from_gbk(document_name);
    job.writer->setTitle(QString::fromStdString(job.title));
    // cupsCreateJob would look the queue up twice more; the description from prepare_printer serves.
    // As there, the job exists when the spooler names it, whatever it says about the options. Without a
    // description (a spooler that gave none) the plain call tries on its own.
    if (job.info.info) {
        cupsCreateDestJob(job.spooler.http(), job.destination.dest, job.info.info, &job.job_id, job.title.c_str(), count,
                          options);
    } else {
        job.job_id = cupsCreateJob(job.spooler.http(), job.queue.c_str(), job.title.c_str(), count, options);
    }
    cupsFreeOptions(count, options);
    job.document_open = job.job_id > 0;
    return job.document_open;
}

bool Printer::end_document()
{
    if (!m_job || !m_job->document_open) return false;
    Job& job = *m_job;
    http_t* http = job.spooler.http();

    // Ending the painter completes the PDF: the one page drawn since the document started.
    const bool painted = job.painter.end() && !job.output.isEmpty();
    m_surface.detach();
    job.buffer.close();

    bool sent = false;
    if (painted && cupsStartDocument(http, job.queue.c_str(), job.job_id, job.title.c_str(), CUPS_FORMAT_PDF, 1) ==
                       HTTP_STATUS_CONTINUE) {
        const bool written = cupsWriteRequestData(http, job.output.constData(),
                                                  static_cast<size_t>(job.output.size())) == HTTP_STATUS_CONTINUE;
        const bool finished = cupsFinishDocument(http, job.queue.c_str()) == IPP_STATUS_OK;
        sent = written && finished;
    }
    job.document_open = false;
    if (!sent) {
        // A job the spooler holds without its document would wait forever: withdraw it.
        cupsCancelJob2(http, job.queue.c_str(), job.job_id, 0);
        return false;
    }
    m_last_job_id = job.job_id;
    m_last_document.assign(job.output.constBegin(), job.output.constEnd());
    return true;
}

void Printer::close_printer()
{
    m_surface.detach();
    if (!m_job) return;
    Job& job = *m_job;
    // A document still open was never finished: withdraw it rather than print half a receipt.
    if (job.document_open) cupsCancelJob2(job.spooler.http(), job.queue.c_str(), job.job_id, 0);
    if (job.painter.isActive()) job.painter.end();
    m_job.reset();
}

} // namespace vorsa::runtime
