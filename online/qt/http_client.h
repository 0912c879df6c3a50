#pragma once
// The program's HTTP client over Qt's TCP socket: one blocking GET or POST over plain HTTP/1.1 that
// keeps the window's events flowing while it waits, and a batch of GETs that run side by side. Failures
// give the empty result; nothing is shown and nothing throws. Needs a QCoreApplication on the calling
// thread.
//
// Every request carries the user agent of online/url.h, completes the caller's header text with the
// default lines (see complete_request_headers), asks for no cache and no compression, sends no cookie,
// and follows up to max_redirects redirects to plain-HTTP addresses. Only a complete answer with a 2xx
// status gives a body: an error page, a transfer broken or cut short (a Content-Length or chunk not
// reached, a time-out), an answer beyond the bounds below and anything stopped on the way give the empty
// result, so that no caller ever takes half a page or a server's error page for the resource.
//
// What a request holds is bounded whatever the server sends: one connection while it runs and nothing
// after it, a response head of at most max_response_head_bytes in at most max_response_header_lines
// lines, a body of at most HttpSettings::max_body_bytes, and the settings' budget for a group of
// requests. The head is read line by line as it arrives, in time linear in its size, so that the time
// limits hold against a flood of header lines too.

#include "online/http_settings.h"
#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <optional>
#include <vector>

namespace vorsa::online {

using runtime::Bytes;
using runtime::Text;

// Bounds of a response head, trailer lines of a chunked body included: an answer whose head goes beyond
// either is given up at once. A real server's head has a few dozen lines in a few kilobytes.
inline constexpr std::size_t max_response_head_bytes = 64 * 1024;
inline constexpr int max_response_header_lines = 100;

// Redirects followed for one request; the next one gives the empty result.
inline constexpr int max_redirects = 20;

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
// percent-escaped; escapes of unreserved characters ("%2D") are sent as the characters themselves.
Bytes http_request_bytes(const Text& url, Text& method, const std::optional<Text>& proxy, Text& headers,
                         const Text& body, Text* response_headers = nullptr,
                         const HttpSettings& settings = {});

// As http_request_bytes, with the body cut at its first zero byte and taken as text unchanged.
Text http_request_text(const Text& url, Text& method, const std::optional<Text>& proxy, Text& headers,
                       const Text& body, Text* response_headers = nullptr, const HttpSettings& settings = {});

// GETs every URL (no proxy, no extra headers) with up to settings.max_parallel requests in flight at
// once, and returns the bodies in URL order, each empty when its request did not give a complete 2xx
// answer. A request's connection is closed as soon as it ends, so that the connections open at once
// never exceed settings.max_parallel however many URLs there are. A server that does not answer costs
// one inactivity time-out per max_parallel URLs rather than one per URL; settings.deadline and
// settings.stop end the whole batch.
std::vector<Bytes> http_fetch_all(const std::vector<Text>& urls, const HttpSettings& settings = {});

} // namespace vorsa::online
