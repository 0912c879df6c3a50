// Feeds arbitrary bytes to everything that reads what the vendor's server or a URL hands us: the URL
// splitting and request-header rules, the escaping of brand names into logo addresses, and the whole
// start-up refresh with the bytes as the notice page (a fake network, a settings file in a scratch
// directory). Checks what must hold for any input: objects that are paths,
// escaped names free of bytes a URL cannot carry, and one logo entry per brand.

#include "online/refresh.h"
#include "online/url.h"
#include "runtime/text/text.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using namespace vorsa;
using runtime::Bytes;
using runtime::Text;

void require(bool condition)
{
    if (!condition) std::abort();
}

class FuzzSources final : public online::OnlineSources
{
public:
    explicit FuzzSources(Text page) : m_page(std::move(page)) {}
    Text fetch_page(const Text&) override { return m_page; }
    std::vector<Bytes> fetch_all(const std::vector<Text>& urls) override
    {
        for (const Text& url : urls) {
            // Every logo address is the server, the logo folder, an escaped name and ".gif".
            require(url.rfind("http://127.0.0.1:1", 0) == 0);
            for (unsigned char c : url)
                require(c < 0x80 && c != '\r' && c != '\n' && c != '\t');
        }
        // Alternate failed and good downloads, so both kinds of entry are exercised.
        std::vector<Bytes> bodies(urls.size());
        for (std::size_t i = 0; i < bodies.size(); i += 2)
            bodies[i] = Bytes{'G', 'I', 'F'};
        return bodies;
    }
    Bytes convert_to_bmp(const Bytes& picture) override { return picture; }
    void show_notice(const Text&) override {}

private:
    Text m_page;
};

std::string scratch_settings()
{
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vorsa-online-fuzz-XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr);
        return pattern + "/dy.cfg";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The port is the port text read as a number, so "host:-1" gives -1: any value may come back, and
    // the client refuses what is no TCP port (tests/online/qt/http_client_test.cpp).
    (void)online::url_port(input);
    const Text object = online::url_object(input);
    require(!object.empty() && object.front() == '/');
    require(online::url_host(input).size() <= input.size());

    const Text escaped = online::url_encode_utf8(input);
    for (unsigned char c : escaped)
        require(c < 0x80 && c != '\r' && c != '\n' && c != '\t');

    Text headers = "X-Test: 1\r\n";
    online::complete_request_headers(headers, input);
    require(headers.rfind("X-Test: 1\r\n", 0) == 0);
    Text method(input.substr(0, 8));
    online::settle_method(method);
    require(method == "GET" || runtime::compare_text(method, "POST", false) == 0);

    FuzzSources sources{Text(input)};
    const std::vector<Bytes> builtin(online::builtin_brand_count, Bytes{'B'});
    const auto brands = online::online_refresh(sources, scratch_settings(), "http://127.0.0.1:1", builtin);
    require(brands.brand_logos.size() == brands.brand_names.size());
    require(brands.brand_names.size() >= online::builtin_brand_count);
    return 0;
}
