#pragma once
// What the printing tests need around a real spooler: the test printer's device (a TCP socket on
// 127.0.0.1 that receives each printed document), the spooler's view of a queue's jobs, and a look at
// a PDF through poppler's tools.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cups/cups.h>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vorsa::test {

// Listens on 127.0.0.1:port and keeps every document a connection delivers, in order of arrival.
// A receiver that does not keep them (long runs that watch their own memory) counts them and their
// bytes only; wait_for then gives empty documents.
class DocumentReceiver
{
public:
    explicit DocumentReceiver(int port, bool keep_documents = true);
    ~DocumentReceiver();
    DocumentReceiver(const DocumentReceiver&) = delete;
    DocumentReceiver& operator=(const DocumentReceiver&) = delete;

    bool listening() const { return m_socket >= 0; }
    std::size_t count() const;
    std::size_t bytes_received() const;
    // The documents received so far, after waiting until there are at least `count` (or the timeout).
    std::vector<std::string> wait_for(std::size_t count, std::chrono::milliseconds timeout);

private:
    void serve();

    int m_socket = -1;
    bool m_keep_documents = true;
    std::size_t m_bytes = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::string> m_documents;
    std::thread m_thread;
};

// A spooler that hangs: listens on 127.0.0.1 (a port of its own), accepts every connection and never
// answers, as a cupsd that was stopped with its socket still open. Closes them all when destroyed, so
// that conversations given up on end then.
class SilentSpooler
{
public:
    SilentSpooler();
    ~SilentSpooler();
    SilentSpooler(const SilentSpooler&) = delete;
    SilentSpooler& operator=(const SilentSpooler&) = delete;

    bool listening() const { return m_socket >= 0; }
    // "127.0.0.1:port", as cupsSetServer takes it.
    std::string address() const;
    int connections() const { return m_connections; }

private:
    void serve();

    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::vector<int> m_held;
    std::thread m_thread;
};

// A spooler that stalls for a while and then goes on: a proxy on 127.0.0.1 (a port of its own) in front
// of the local spooler's socket, which passes everything through until stall() is called, then holds
// back what clients send for that long, and passes it on afterwards.
class StallingSpooler
{
public:
    explicit StallingSpooler(std::string spooler_socket);
    ~StallingSpooler();
    StallingSpooler(const StallingSpooler&) = delete;
    StallingSpooler& operator=(const StallingSpooler&) = delete;

    bool listening() const { return m_socket >= 0; }
    std::string address() const;
    void stall(std::chrono::milliseconds duration);

private:
    void serve();
    void carry(int client);

    std::string m_spooler_socket;
    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::chrono::steady_clock::rep> m_stalled_until{0};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::thread> m_carriers;
};

// The spooler's jobs of a queue, finished ones included.
std::set<int> job_ids(const std::string& queue);
std::set<int> jobs_added(const std::string& queue, const std::set<int>& before);
std::optional<ipp_jstate_t> job_state(const std::string& queue, int id);
// Waits until the job has left the pending and processing states; its final state, if it got one.
std::optional<ipp_jstate_t> wait_for_job_end(const std::string& queue, int id,
                                             std::chrono::milliseconds timeout);

// Asks the spooler to let a held job print (the operation Release-Job); the spooler's answer.
ipp_status_t release_job(int id);

// The attributes the spooler keeps for a job.
class JobAttributes
{
public:
    explicit JobAttributes(int id);
    ~JobAttributes();
    JobAttributes(const JobAttributes&) = delete;
    JobAttributes& operator=(const JobAttributes&) = delete;

    bool valid() const { return m_response != nullptr; }
    bool has(const char* name) const;
    // The first value as text (integers and enums in decimal); empty when absent.
    std::string text(const char* name) const;

private:
    ipp_t* m_response = nullptr;
};

struct PdfFacts
{
    int pages = 0;
    double width = 0; // points
    double height = 0;
    std::string text; // UTF-8, without blanks and line breaks
};

void write_file(const std::filesystem::path& file, const std::string& bytes);
PdfFacts inspect_pdf(const std::filesystem::path& file);
// Text without the blanks and line breaks that extraction puts between or drops from glyph runs.
std::string squeezed(const std::string& text);

// A page rendered to 8-bit grey by pdftoppm.
struct GreyPage
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
};
GreyPage render_page(const std::filesystem::path& pdf, int dpi);

// Where two renderings of the same size differ (the pixels of `a` and `b` further apart than a third of
// the grey scale), how many of those pixels `candidate` gets wrong against `a` and against `b`. The
// candidate is first aligned to `a` within a few pixels.
struct Resemblance
{
    int differing = 0;
    int wrong_against_a = 0;
    int wrong_against_b = 0;
};
Resemblance resemblance(const GreyPage& candidate, const GreyPage& a, const GreyPage& b);

} // namespace vorsa::test
