#pragma once
// What the printing tests need around Wine's spooler: the test printer's device (a TCP socket on
// 127.0.0.1 whose documents the test receives, as the Linux printing tests do), and the Linux host's
// own tools (lpstat, pdfinfo, pdftotext), which a program under Wine starts like any other and whose
// files it reaches through drive Z:.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorsa::test {

// Listens on 127.0.0.1:port and keeps every document a connection delivers, in order of arrival.
class DocumentReceiver
{
public:
    explicit DocumentReceiver(int port);
    ~DocumentReceiver();
    DocumentReceiver(const DocumentReceiver&) = delete;
    DocumentReceiver& operator=(const DocumentReceiver&) = delete;

    bool listening() const { return m_listening; }
    // The documents received so far, after waiting until there are at least `count` (or the timeout).
    std::vector<std::string> wait_for(std::size_t count, std::chrono::milliseconds timeout);

private:
    void serve();

    std::uintptr_t m_socket;
    bool m_listening = false;
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::string> m_documents;
    std::thread m_thread;
};

// The host's path of a file on drive Z: ("Z:\tmp\a" is "/tmp/a"); empty for other drives.
std::string host_path(const std::filesystem::path& file);
// What a shell command of the host writes on its standard output (run by /bin/sh, waited for up to a
// minute); empty when it cannot be run.
std::string host_output(const std::string& command);

struct PdfFacts
{
    int pages = 0;
    double width = 0; // points
    double height = 0;
    std::string text; // UTF-8, without blanks and line breaks
};
// pdfinfo and pdftotext on a PDF document.
PdfFacts inspect_pdf(const std::string& document);

} // namespace vorsa::test
