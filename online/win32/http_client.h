#pragma once
// The program's HTTP client on Windows, over WinHTTP: one blocking GET or POST over plain HTTP/1.1 that
// keeps the window's messages flowing while it waits, and a batch of GETs that run side by side. The
// contract is that of the Qt client (online/qt/http_client.h), so that the window calls either alike.
// Failures give the empty result; nothing is shown and nothing throws.
//
// Every request carries the user agent of online/url.h, completes the caller's header text with the
// default lines (see complete_request_headers), asks for no cache (Pragma and Cache-Control: no-cache)
// and no compression, sends no cookie and no credentials, uses no proxy unless the caller names one
// (the system's proxy settings are ignored, as the Linux edition ignores http_proxy), and follows up to
// max_redirects redirects to plain-HTTP addresses. Only a complete answer with a 2xx status gives a
// body: an error page, a transfer broken or cut short (a Content-Length not reached, a time-out), an
// answer beyond the bounds below and anything stopped on the way give the empty result, so that no
// caller ever takes half a page or a server's error page for the resource.
//
// WinHTTP runs each request asynchronously; the calling thread waits for it in a message loop of its
// own (every queued message of the thread is translated and dispatched, so the window repaints and any
// handler may run meanwhile). A stop, the deadline or a quit message ends the wait at once: the
// request's handles are closed from the waiting thread, which WinHTTP answers by cancelling what is
// under way, and the call returns without waiting for WinHTTP's own threads.
//
// What a request holds is bounded whatever the server sends: one connection while it runs and nothing
// after it, a response head of at most max_response_head_bytes in at most max_response_header_lines
// lines (checked once WinHTTP has the head, which it bounds to max_response_head_bytes itself), a body
// of at most HttpSettings::max_body_bytes, and the settings' budget for a group of requests.
//
// Wine's WinHTTP, the test bench, keeps neither of two promises WinHTTP makes: it does not bound a head
// while reading it, and it reads on to the next chunk of a chunked body within the calling thread.
// There an endless head holds a request until the deadline or the stop, and a server that stalls
// between two chunks holds the calling thread, its messages unanswered, until the inactivity time-out.

#include "online/http_settings.h"
#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <optional>
#include <vector>

namespace vorsa::online {

using runtime::Bytes;
using runtime::Text;

// Bounds of a response head: an answer whose head goes beyond either gives the empty result. A real
// server's head has a few dozen lines in a few kilobytes.
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
// Content-Type and Content-Length are appended to this very variable. A line holding a stray CR or LF,
// or without a name, is not sent; bytes above 0x7F go out as "%XX" escapes (a header line is ASCII).
// `body` is sent only by a POST.
// `response_headers`, when given, receives the status line and header lines each ending in CR LF and
// a final CR LF (also for an error status or a broken body), or response_header_capacity blanks when
// no status line came or the block does not fit.
// A URL without a host, or with a port outside 1..65535, makes no request: the result is empty and
// only the method is settled. Bytes a request line cannot carry (GBK, blanks, controls, "#") are sent
// percent-escaped; everything else of the path and query goes out as written.
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
