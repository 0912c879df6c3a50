#include "online/url.h"

#include "runtime/text/chars.h"
#include "runtime/text/gbk.h"
#include "runtime/text/numbers.h"

namespace vorsa::online {

using namespace runtime;

namespace {

constexpr std::string_view scheme = "http://";

bool has_scheme(std::string_view url)
{
    return compare_text(left_text(url, 7), scheme, false) == 0;
}

// Host and port as written: after the scheme, if any, up to the first "/".
Text host_and_port(std::string_view url)
{
    if (has_scheme(url)) {
        const int slash = find_text(url, "/", 8);
        return slash != -1 ? mid_text(url, 8, slash - 8) : Text(url.substr(scheme.size()));
    }
    const int slash = find_text(url, "/", 1);
    return slash != -1 ? left_text(url, slash - 1) : Text(url);
}

// Printable ASCII that is neither letter nor digit, and the three white-space controls.
bool is_escaped(unsigned char byte)
{
    if (byte == '\r' || byte == '\n' || byte == '\t') return true;
    if (byte < 0x21 || byte > 0x7E) return false;
    const bool digit = byte >= '0' && byte <= '9';
    const bool letter = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
    return !digit && !letter;
}

void append_escape(Text& out, unsigned char byte)
{
    constexpr char digits[] = "0123456789ABCDEF";
    out += '%';
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

void append_line_unless_named(Text& headers, std::string_view name, std::string_view value)
{
    if (find_text(headers, name, 1, true) != -1) return;
    headers += name;
    headers += value;
    headers += "\r\n";
}

} // namespace

Text url_host(std::string_view url)
{
    Text host = host_and_port(url);
    const int colon = find_text(host, ":");
    if (colon != -1) host = left_text(host, colon - 1);
    return to_lower_text(host);
}

int url_port(std::string_view url)
{
    const Text host = host_and_port(url);
    const int colon = find_text(host, ":");
    const Text port = colon != -1 ? host.substr(static_cast<std::size_t>(colon)) : Text("80");
    return to_integer(to_number(port));
}

Text url_object(std::string_view url)
{
    // The host is looked for after the scheme, so that a host such as "h" or "tp" is not found inside
    // "http://" itself and the object taken from there.
    const int after_scheme = has_scheme(url) ? 8 : 1;
    const Text host = url_host(url);
    int host_at = host.empty() ? -1 : find_text(url, host, after_scheme, true);
    if (host_at == -1) host_at = after_scheme;
    const int slash = find_text(url, "/", host_at, true);
    return slash == -1 ? Text("/") : Text(url.substr(static_cast<std::size_t>(slash) - 1));
}

Text url_encode_utf8(std::string_view text)
{
    Text out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = gbk_char_length(text, i);
        // A character above ASCII (a pair, or the euro sign 0x80) goes as its UTF-8 bytes.
        const Bytes utf8 = byte >= 0x80 ? gbk_to_utf8(text.substr(i, length)) : Bytes{};
        if (!utf8.empty()) {
            for (std::uint8_t unit : utf8)
                append_escape(out, unit);
            i += length;
        } else {
            if (is_escaped(byte))
                append_escape(out, byte);
            else
                out += static_cast<char>(byte);
            i += 1;
        }
    }
    return out;
}

Bytes gbk_to_utf8(std::string_view text)
{
    const std::string utf8 = utf8_from_gbk(text);
    return bytes_of(std::string_view(utf8).substr(0, utf8.find('\0')));
}

void settle_method(Text& method)
{
    if (to_upper_text(method) != "POST") method = "GET";
}

void complete_request_headers(Text& headers, std::string_view url)
{
    append_line_unless_named(
        headers, "Accept: ",
        "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
        "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*");
    append_line_unless_named(headers, "Referer: ", url);
    append_line_unless_named(headers, "Accept-Language: ", "zh-cn");
}

bool sends_body(std::string_view method)
{
    return method != "GET";
}

void add_body_headers(Text& headers, std::string_view method, std::string_view body)
{
    if (!sends_body(method) || body.empty()) return;
    headers += "Content-Type: application/x-www-form-urlencoded\r\n";
    headers += "Content-Length: " + to_text(static_cast<std::int64_t>(body.size())) + "\r\n";
}

} // namespace vorsa::online
