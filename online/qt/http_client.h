#pragma once
// The program's HTTP client over QtNetwork: one blocking GET or POST over plain HTTP/1.1 that keeps the
// window's events flowing while it waits, and a batch of GETs that run side by side. Failures give the
// empty result; nothing is shown and nothing throws. Needs a QCoreApplication on the calling thread.
//
// Every request carries the user agent of online/url.h, completes the caller's header text with the
// default lines (see complete_request_headers), bypasses every cache and follows redirects as Qt does
// by default. Only a complete answer with a 2xx status gives a body: an error page, a transfer broken
// or cut short (a Content-Length or chunk not reached, a time-out) and anything stopped on the way give
// the empty result, so that no caller ever takes half a page or a server's error page for the resource.

#include "online/http_settings.h"
#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <optional>
#include <vector>

namespace vorsa::online {

using runtime::Bytes;
using runtime::Text;

// The size of the buffer the raw response headers are delivered in; a block that does not fit, with
// its terminating zero, is delivered as this many blanks.
inline constexpr int response_header_capacity = 1024;

// Requests `url` ("http://" optional) and returns the body of a complete 2xx answer, every byte in
// order; anything else returns the empty result (see above). `method` is settled first
// (settle_method): anything but "POST" in any case is set to "GET" in the caller's variable. `proxy`
// ("host:port") is used only when given.
// `headers` holds extra lines each ending in CR LF; the default lines and, for a POST with a body,
// Content-Type and Content-Length are appended to this very variable. `body` is sent only by a POST.
// `response_headers`, when given, receives the status line and header lines each ending in CR LF and
// a final CR LF (also for an error status or a broken body), or response_header_capacity blanks when
// no status line came or the block does not fit.
// A URL without a host, or with a port outside 1..65535, makes no request: the result is empty and
// only the method is settled. Bytes a request line cannot carry (GBK, blanks, controls, "#") are sent
// percent-escaped; Qt sends escapes of unreserved characters ("%2D") as the characters themselves.
Bytes http_request_bytes(const Text& url, Text& method, const std::optional<Text>& proxy, Text& headers,
                         const Text& body, Text* response_headers = nullptr,
                         const HttpSettings& settings = {});

// As http_request_bytes, with the body cut at its first zero byte and taken as text unchanged.
Text http_request_text(const Text& url, Text& method, const std::optional<Text>& proxy, Text& headers,
                       const Text& body, Text* response_headers = nullptr, const HttpSettings& settings = {});

// GETs every URL (no proxy, no extra headers) with up to settings.max_parallel requests in flight at
// once, and returns the bodies in URL order, each empty when its request did not give a complete 2xx
// answer. A server that does not answer costs one inactivity time-out per max_parallel URLs rather than
// one per URL; settings.deadline and settings.stop end the whole batch.
std::vector<Bytes> http_fetch_all(const std::vector<Text>& urls, const HttpSettings& settings = {});

} // namespace vorsa::online
