#include "runtime/win32/printer.h"

#include "runtime/text/gbk.h"
#include "runtime/win32/deadline_call.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <vector>
#include <winspool.h>

namespace vorsa::runtime {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::int64_t> time_limit_ms{default_spooler_time_limit.count()};

Clock::time_point deadline_from_now()
{
    return Clock::now() + std::chrono::milliseconds(time_limit_ms.load());
}

// ---------------------------------------------------------------------------------------------------
// winspool.drv, loaded by the first spooler call on a thread of its own: starting the library may
// already talk to the spooler.

struct Winspool
{
    decltype(&::EnumPrintersW) enum_printers = nullptr;
    decltype(&::GetDefaultPrinterW) get_default_printer = nullptr;
    decltype(&::OpenPrinterW) open_printer = nullptr;
    decltype(&::ClosePrinter) close_printer = nullptr;
    decltype(&::GetPrinterW) get_printer = nullptr;
    decltype(&::DocumentPropertiesW) document_properties = nullptr;
    decltype(&::DeviceCapabilitiesW) device_capabilities = nullptr;
    decltype(&::SetJobW) set_job = nullptr;
};

template <class Function> bool resolve(HMODULE module, const char* name, Function& function)
{
    const FARPROC address = GetProcAddress(module, name);
    // Through the generic function type, which converts to any other without a warning.
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

// Nothing when the library or one of its functions is missing. Never unloaded: a call given up on may
// still be inside it when the program ends.
const Winspool* winspool()
{
    static const Winspool* const loaded = []() -> const Winspool* {
        HMODULE module = LoadLibraryExW(L"winspool.drv", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) module = LoadLibraryW(L"winspool.drv"); // a system without the search flags
        if (!module) return nullptr;
        auto* api = new Winspool;
        const bool complete = resolve(module, "EnumPrintersW", api->enum_printers) &&
                              resolve(module, "GetDefaultPrinterW", api->get_default_printer) &&
                              resolve(module, "OpenPrinterW", api->open_printer) &&
                              resolve(module, "ClosePrinter", api->close_printer) &&
                              resolve(module, "GetPrinterW", api->get_printer) &&
                              resolve(module, "DocumentPropertiesW", api->document_properties) &&
                              resolve(module, "DeviceCapabilitiesW", api->device_capabilities) &&
                              resolve(module, "SetJobW", api->set_job);
        if (complete) return api;
        delete api;
        return nullptr;
    }();
    return loaded;
}

std::wstring wide(std::u16string_view units)
{
    return std::wstring(units.begin(), units.end());
}

std::u16string units_of(const wchar_t* text)
{
    std::u16string units;
    for (; text && *text; ++text)
        units.push_back(static_cast<char16_t>(*text));
    return units;
}

// The spooler's default printer; empty when there is none.
std::wstring spooler_default(const Winspool& spooler)
{
    std::wstring buffer(256, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!spooler.get_default_printer(buffer.data(), &size)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
        buffer.assign(size, L'\0');
        if (!spooler.get_default_printer(buffer.data(), &size)) return {};
    }
    return buffer.c_str();
}

// ---------------------------------------------------------------------------------------------------
// Printer names in the program's text.

constexpr char escape = '\\';

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool is_surrogate(char32_t value)
{
    return value >= 0xD800 && value <= 0xDFFF;
}

// The value the escape at `text[at]` stands for and its length in bytes; nothing when it is not one.
std::optional<std::pair<char32_t, std::size_t>> escape_at(std::string_view text, std::size_t at)
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
    if (value == 0 || value > 0x10FFFF) return std::nullopt;
    // A surrogate stands for itself only as "\u": a name may hold a lone one.
    if (is_surrogate(value) && digits != 4) return std::nullopt;
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

Text escaped(char32_t value)
{
    return value < 0x10000 ? std::string{escape, 'u'} + hex(value, 4)
                           : std::string{escape, 'U'} + hex(value, 8);
}

// Whether the "\" at `name[at]` would read as an escape in the text written for the name.
bool backslash_reads_as_escape(std::u16string_view name, std::size_t at)
{
    if (at + 1 >= name.size()) return false;
    const std::size_t digits = name[at + 1] == u'u' ? 4 : name[at + 1] == u'U' ? 8 : 0;
    if (digits == 0 || at + 2 + digits > name.size()) return false;
    for (std::size_t i = at + 2; i < at + 2 + digits; ++i)
        if (name[i] > 0x7F || hex_value(static_cast<char>(name[i])) < 0) return false;
    return true;
}

} // namespace

void set_spooler_time_limit(std::chrono::milliseconds limit)
{
    time_limit_ms = limit.count();
}

std::chrono::milliseconds spooler_time_limit()
{
    return std::chrono::milliseconds(time_limit_ms.load());
}

Text printer_text_from_spooler_name(std::u16string_view name)
{
    Text plain = gbk_from_utf16(name);
    // GBK writes "?" for what it cannot hold.
    if (plain.find('?') == Text::npos && plain.find(escape) == Text::npos) return plain;
    Text text;
    for (std::size_t at = 0; at < name.size();) {
        const char16_t unit = name[at];
        std::size_t length = 1;
        char32_t value = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < name.size() && name[at + 1] >= 0xDC00 &&
            name[at + 1] <= 0xDFFF) {
            length = 2;
            value = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (name[at + 1] - 0xDC00u);
        }
        const std::u16string_view character = name.substr(at, length);
        if (unit == u'\\') {
            text += backslash_reads_as_escape(name, at) ? escaped(value) : Text(1, escape);
        } else {
            const Text converted = gbk_from_utf16(character);
            text += converted != "?" || unit == u'?' ? converted : escaped(value);
        }
        at += length;
    }
    return text;
}

std::u16string spooler_name_from_printer_text(const Text& text)
{
    std::u16string name;
    std::size_t plain_from = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x81 && byte <= 0xFE) { // a pair: its trail byte may be "\" (0x5C)
            at += 2;
            continue;
        }
        const auto found = escape_at(text, at);
        if (!found) {
            ++at;
            continue;
        }
        name += utf16_from_gbk(std::string_view(text).substr(plain_from, at - plain_from));
        const char32_t value = found->first;
        if (value >= 0x10000) {
            name.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
            name.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
        } else {
            name.push_back(static_cast<char16_t>(value));
        }
        at += found->second;
        plain_from = at;
    }
    if (plain_from < text.size()) name += utf16_from_gbk(std::string_view(text).substr(plain_from));
    return name;
}

int list_printers(TextList& names)
{
    auto found = std::make_shared<std::vector<std::u16string>>();
    const bool answered = call_with_deadline(
        [found] {
            const Winspool* spooler = winspool();
            if (!spooler) return;
            constexpr DWORD which = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
            DWORD needed = 0;
            DWORD count = 0;
            spooler->enum_printers(which, nullptr, 1, nullptr, 0, &needed, &count);
            if (needed == 0) return;
            // Whole pointers' worth, so that the records in it are aligned.
            std::vector<std::uint64_t> buffer((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
            auto* bytes = reinterpret_cast<BYTE*>(buffer.data());
            if (!spooler->enum_printers(which, nullptr, 1, bytes, needed, &needed, &count)) return;
            const auto* printers = reinterpret_cast<const PRINTER_INFO_1W*>(bytes);
            for (DWORD i = 0; i < count; ++i)
                found->push_back(units_of(printers[i].pName));
        },
        nullptr, deadline_from_now());
    if (!answered || found->empty()) return 0;
    TextList listed;
    for (const std::u16string& name : *found)
        listed.push_back(printer_text_from_spooler_name(name));
    names = std::move(listed);
    return static_cast<int>(names.size());
}

Text default_printer_name()
{
    auto found = std::make_shared<std::wstring>();
    const bool answered = call_with_deadline(
        [found] {
            if (const Winspool* spooler = winspool()) *found = spooler_default(*spooler);
        },
        nullptr, deadline_from_now());
    if (!answered) return {};
    return printer_text_from_spooler_name(units_of(found->c_str()));
}

// ---------------------------------------------------------------------------------------------------
// One print job. While a spooler call runs, its thread alone touches the job; a call given up on keeps
// the job and releases it.

struct SpoolerJob
{
    std::optional<std::wstring> name; // none: the default printer
    Clock::time_point deadline;
    HDC dc = nullptr;
    PrinterSettings settings;
    int job_id = 0;
    bool document_open = false;
    bool page_open = false;
    bool handed = false; // the spooler took the document (EndDoc)
    bool succeeded = false;
};

namespace {

using JobWork = std::function<void(SpoolerJob&)>;

// Fields of the settings record the request names, and its values in them.
struct SettingsRequest
{
    DWORD fields = 0;
    short orientation = 0;
    short paper_size = 0;
    short paper_width = 0;
    short paper_length = 0;
};

bool fits_field(int value)
{
    return value >= std::numeric_limits<short>::min() && value <= std::numeric_limits<short>::max();
}

std::optional<SettingsRequest> settings_request(const PageRequest& request)
{
    for (const auto& value :
         {request.orientation, request.paper_size, request.paper_width, request.paper_length})
        if (value && !fits_field(*value)) return std::nullopt;
    SettingsRequest settings;
    settings.fields = DM_ORIENTATION;
    settings.orientation = static_cast<short>(request.orientation.value_or(orientation_portrait));
    if (request.paper_size) settings.fields |= DM_PAPERSIZE;
    if (request.paper_width) settings.fields |= DM_PAPERWIDTH;
    if (request.paper_length) settings.fields |= DM_PAPERLENGTH;
    settings.paper_size = static_cast<short>(request.paper_size.value_or(0));
    settings.paper_width = static_cast<short>(request.paper_width.value_or(0));
    settings.paper_length = static_cast<short>(request.paper_length.value_or(0));
    return settings;
}

// The port the printer is connected to, as DeviceCapabilitiesW wants it; empty when it cannot be had.
std::wstring printer_port(const Winspool& spooler, HANDLE printer)
{
    DWORD needed = 0;
    spooler.get_printer(printer, 5, nullptr, 0, &needed);
    if (needed == 0) return {};
    std::vector<std::uint64_t> buffer((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* bytes = reinterpret_cast<BYTE*>(buffer.data());
    if (!spooler.get_printer(printer, 5, bytes, needed, &needed)) return {};
    const auto* info = reinterpret_cast<const PRINTER_INFO_5W*>(bytes);
    return info->pPortName ? info->pPortName : L"";
}

// The code of a paper in the driver's own list that is width x length (0.1 mm) within 1 mm.
std::optional<short> named_paper(const Winspool& spooler, const wchar_t* name, const wchar_t* port, int width,
                                 int length)
{
    constexpr int tolerance = 10;
    const int count = spooler.device_capabilities(name, port, DC_PAPERS, nullptr, nullptr);
    if (count <= 0 || count > 4096) return std::nullopt;
    std::vector<WORD> papers(static_cast<std::size_t>(count));
    std::vector<POINT> sizes(static_cast<std::size_t>(count));
    if (spooler.device_capabilities(name, port, DC_PAPERS, reinterpret_cast<LPWSTR>(papers.data()),
                                    nullptr) != count ||
        spooler.device_capabilities(name, port, DC_PAPERSIZE, reinterpret_cast<LPWSTR>(sizes.data()),
                                    nullptr) != count)
        return std::nullopt;
    for (int i = 0; i < count; ++i) {
        const POINT size = sizes[static_cast<std::size_t>(i)];
        const WORD code = papers[static_cast<std::size_t>(i)];
        if (std::abs(size.x - width) <= tolerance && std::abs(size.y - length) <= tolerance &&
            fits_field(code))
            return static_cast<short>(code);
    }
    return std::nullopt;
}

// Opens the printer, merges the request into its settings and makes the device; runs on a spooler
// thread. The device is left in job.dc, nothing when a step fails.
void make_device(SpoolerJob& job, const SettingsRequest& request)
{
    const Winspool* spooler = winspool();
    if (!spooler) return;
    std::wstring name = job.name ? *job.name : spooler_default(*spooler);
    HANDLE printer = nullptr;
    if (!spooler->open_printer(name.data(), &printer, nullptr)) return;
    const LONG size = spooler->document_properties(nullptr, printer, name.data(), nullptr, nullptr, 0);
    if (size <= 0) {
        spooler->close_printer(printer);
        return;
    }
    std::vector<std::uint64_t> storage((static_cast<std::size_t>(size) + sizeof(std::uint64_t) - 1) /
                                       sizeof(std::uint64_t));
    auto* record = reinterpret_cast<DEVMODEW*>(storage.data());
    const auto merge = [&](DWORD mode) {
        return spooler->document_properties(nullptr, printer, name.data(), record,
                                            mode & DM_IN_BUFFER ? record : nullptr, mode) >= 0;
    };
    if (!merge(DM_OUT_BUFFER)) {
        spooler->close_printer(printer);
        return;
    }
    // The mask names exactly the requested fields, nothing the driver had set.
    record->dmFields = request.fields;
    record->dmOrientation = request.orientation;
    record->dmPaperSize = request.paper_size;
    record->dmPaperLength = request.paper_length;
    record->dmPaperWidth = request.paper_width;
    bool merged = merge(DM_IN_BUFFER | DM_OUT_BUFFER);
    constexpr DWORD custom_size = DM_PAPERWIDTH | DM_PAPERLENGTH;
    if (merged && (request.fields & custom_size) == custom_size) {
        const std::wstring port = printer_port(*spooler, printer);
        if (const auto paper = named_paper(*spooler, name.c_str(), port.empty() ? nullptr : port.c_str(),
                                           request.paper_width, request.paper_length)) {
            record->dmFields = (request.fields & ~custom_size) | DM_PAPERSIZE;
            record->dmOrientation = request.orientation;
            record->dmPaperSize = *paper;
            record->dmPaperLength = request.paper_length;
            record->dmPaperWidth = request.paper_width;
            merged = merge(DM_IN_BUFFER | DM_OUT_BUFFER);
        }
    }
    spooler->close_printer(printer);
    if (!merged) return;
    job.settings = {request.fields,      record->dmFields,     record->dmOrientation,
                    record->dmPaperSize, record->dmPaperWidth, record->dmPaperLength};
    job.dc = CreateDCW(L"WINSPOOL", name.c_str(), nullptr, record);
}

// Withdraws a document the spooler took after the window gave up on it, where the spooler still lets
// it; runs on a spooler thread.
void delete_handed_document(const SpoolerJob& job)
{
    const Winspool* spooler = winspool();
    if (!spooler || job.job_id <= 0) return;
    std::wstring name = job.name ? *job.name : spooler_default(*spooler);
    HANDLE printer = nullptr;
    if (!spooler->open_printer(name.data(), &printer, nullptr)) return;
    spooler->set_job(printer, static_cast<DWORD>(job.job_id), 0, nullptr, JOB_CONTROL_DELETE);
    spooler->close_printer(printer);
}

// What a job given up on still holds, released on its spooler thread.
void release_job(SpoolerJob& job)
{
    if (!job.dc) return;
    if (job.document_open) AbortDoc(job.dc);
    if (job.handed) delete_handed_document(job);
    DeleteDC(job.dc);
    job.dc = nullptr;
    job.document_open = job.page_open = false;
}

// Runs `work` on the job on a spooler thread, waiting up to the job's deadline; true when it ended in
// time. Otherwise the thread keeps the job and releases it.
bool run_job(const std::shared_ptr<SpoolerJob>& job, JobWork work)
{
    return call_with_deadline([job, work] { work(*job); }, [job] { release_job(*job); }, job->deadline);
}

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

PrinterSettings Printer::settings() const
{
    return m_job ? m_job->settings : PrinterSettings{};
}

bool Printer::prepare_printer(const std::optional<Text>& name, const PageRequest& request)
{
    close_printer();
    const auto settings = settings_request(request);
    if (!settings) return false;
    auto job = std::make_shared<SpoolerJob>();
    if (name) job->name = wide(spooler_name_from_printer_text(*name));
    job->deadline = deadline_from_now();
    if (!run_job(job, [settings = *settings](SpoolerJob& j) { make_device(j, settings); }) || !job->dc)
        return false;
    m_job = std::move(job);
    m_surface.attach(m_job->dc);
    return true;
}

bool Printer::start_document(const Text& document_name)
{
    if (!m_job || !m_job->dc || m_job->document_open) return false;
    // The device is the spooler thread's while it works.
    m_surface.detach();
    const std::wstring title = wide(utf16_from_gbk(document_name));
    const bool answered = run_job(m_job, [title](SpoolerJob& job) {
        DOCINFOW document{};
        document.cbSize = sizeof document;
        document.lpszDocName = title.c_str();
        const int id = StartDocW(job.dc, &document);
        if (id <= 0) return;
        job.job_id = id;
        job.document_open = true;
        job.handed = false;
        // The one page of the document: GDI draws only inside a page.
        if (StartPage(job.dc) > 0) {
            job.page_open = true;
            return;
        }
        AbortDoc(job.dc);
        job.document_open = false;
    });
    if (!answered) {
        m_job.reset(); // the spooler thread releases it
        return false;
    }
    m_surface.attach(m_job->dc);
    return m_job->page_open;
}

bool Printer::end_document()
{
    if (!m_job || !m_job->document_open) return false;
    m_surface.detach();
    const bool answered = run_job(m_job, [](SpoolerJob& job) {
        const bool page_ended = !job.page_open || EndPage(job.dc) > 0;
        job.page_open = false;
        // A page the driver could not finish is no document: withdrawn, not printed half.
        job.succeeded = page_ended && EndDoc(job.dc) > 0;
        if (!job.succeeded) AbortDoc(job.dc);
        job.handed = job.succeeded;
        job.document_open = false;
    });
    if (!answered) {
        m_job.reset();
        return false;
    }
    // Only a thread given up on withdraws what the spooler took.
    m_job->handed = false;
    m_surface.attach(m_job->dc);
    if (!m_job->succeeded) return false;
    m_last_job_id = m_job->job_id;
    return true;
}

void Printer::close_printer()
{
    m_surface.detach();
    if (!m_job) return;
    const std::shared_ptr<SpoolerJob> job = std::move(m_job);
    if (!job->dc) return;
    // The device is deleted on a spooler thread too; past the job's deadline the window does not wait.
    call_with_deadline([job] { release_job(*job); }, nullptr, job->deadline);
}

} // namespace vorsa::runtime
