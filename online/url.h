#pragma once
// URL splitting and encoding for the HTTP client, and the rules by which a request's method and header
// text are settled before it is sent. Everything here is pure; the Qt client in online/qt/ applies it.
// Texts are GBK; positions are 1-based and never fall on the second byte of a double-byte character.

#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <string_view>

namespace vorsa::online {

using runtime::Bytes;
using runtime::Text;

// The user agent of every request.
inline constexpr std::string_view user_agent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// The host of an absolute URL ("http://" optional, any letter case), without port, in lower case
// (ASCII letters only): "http://Shop:8080/a" gives "shop", "shop/a" gives "shop".
Text url_host(std::string_view url);

// The port named after the host's ":", read as a decimal number; 80 when none is named, 0 when the port
// text is not a number ("shop:x"), which the client takes as the default HTTP port.
int url_port(std::string_view url);

// Everything from the first "/" after the host to the end, query included and nothing decoded; "/"
// when the URL has no path.
Text url_object(std::string_view url);

// One URL path component: double-byte GBK characters become the percent escapes of their UTF-8 bytes,
// the 32 printable ASCII characters that are neither letters nor digits and CR, LF and TAB become
// "%XX" (upper-case hex); letters, digits, the blank and other control bytes stay as they are.
Text url_encode_utf8(std::string_view text);

// The GBK text as UTF-8 bytes, cut at the first zero byte.
Bytes gbk_to_utf8(std::string_view text);

// A method that reads "POST" in any letter case stays as written ("post" is sent as "post");
// anything else, the empty text included, becomes "GET".
void settle_method(Text& method);

// Appends the default lines the header text lacks, each only when its name (with colon and blank) is
// not already in the text, searched ignoring case: an Accept line listing the usual picture and
// document types, "Referer: " + url, and "Accept-Language: zh-cn". Caller lines must end in CR LF.
void complete_request_headers(Text& headers, std::string_view url);

// For any method but exactly "GET" with a non-empty body: appends
// "Content-Type: application/x-www-form-urlencoded" (even when the caller gave one) and
// "Content-Length: " + the body's byte count. A GET or an empty body adds nothing.
void add_body_headers(Text& headers, std::string_view method, std::string_view body);

// True when the settled method sends its body: every method but exactly "GET".
bool sends_body(std::string_view method);

} // namespace vorsa::online
