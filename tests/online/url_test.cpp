#include "online/url.h"
#include "runtime/text/gbk.h"

#include <gtest/gtest.h>

namespace vorsa::online {
namespace {

using namespace runtime::literals;
using runtime::utf8_from_gbk;

TEST(UrlTest, SplitsHostPortAndObject)
{
    struct Case
    {
        Text url;
        Text host;
        int port;
        Text object;
    };
    const std::vector<Case> cases = {
        {"http://Shop:8080/a/b?x=1", "shop", 8080, "/a/b?x=1"},
        {"HTTP://shop", "shop", 80, "/"},
        {"shop/a", "shop", 80, "/a"},
        {"shop:x", "shop", 0, "/"}, // a port that is no number
        {"shop:", "shop", 0, "/"},
        // The port text is read as a number whatever its sign or size; the client refuses such ports.
        {"shop:-1/x", "shop", -1, "/x"},
        {"shop:70000/x", "shop", 70000, "/x"},
        {"hTtP://WWW.Example.COM:81", "www.example.com", 81, "/"},
        {"http://127.0.0.1:8000/tarnwick/plendor/xiaopiao.htm", "127.0.0.1", 8000,
         "/tarnwick/plendor/xiaopiao.htm"},
        {"http://shop/a%2Db.gif?q=%41", "shop", 80, "/a%2Db.gif?q=%41"}, // nothing decoded
        {"http://shop?x=1", "shop?x=1", 80, "/"}, // no "/": the host part runs to the end
        {"http://SHOP/Shop/x", "shop", 80, "/Shop/x"},
        // A host that also occurs inside the scheme is looked for after it.
        {"http://h/x", "h", 80, "/x"},
        {"http://tp:81/y", "tp", 81, "/y"},
        // Double-byte characters are not folded, though a trail byte may look like a letter (0x81 0x41).
        {"http://\x81\x41"
         "B/x",
         "\x81\x41"
         "b",
         80, "/x"},
        {"http://商店/x"_gbk, "商店"_gbk, 80, "/x"},
        {"", "", 80, "/"},
        {"http://", "", 80, "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8_from_gbk(c.url));
        EXPECT_EQ(url_host(c.url), c.host);
        EXPECT_EQ(url_port(c.url), c.port);
        EXPECT_EQ(url_object(c.url), c.object);
    }
}

TEST(UrlTest, EncodesOnePathComponent)
{
    struct Case
    {
        Text text;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"Ab 1", "Ab 1"}, // letters, digit and blank stay
        {"a-b", "a%2Db"},
        {"飞"_gbk, "%E9%A3%9E"}, // one character, three UTF-8 bytes
        {"李宁,安踏"_gbk, "%E6%9D%8E%E5%AE%81%2C%E5%AE%89%E8%B8%8F"},
        {"\t\r\n", "%09%0D%0A"},
        {"!/~%", "%21%2F%7E%25"},
        {"a\x01\x7F"
         "b",
         "a\x01\x7F"
         "b"}, // other control bytes pass
        {"", ""},
        {"\x81", "%EF%BF%BD"},         // a lead byte cut off at the end: the replacement character
        {"Shop\x80", "Shop%E2%82%AC"}, // 0x80 is the euro sign of code page 936, one byte
    };
    for (const Case& c : cases)
        EXPECT_EQ(url_encode_utf8(c.text), c.expected) << utf8_from_gbk(c.text);
}

TEST(UrlTest, EscapesExactlyThePunctuationAndThreeControls)
{
    int escaped = 0;
    for (int code = 0; code < 0x80; ++code) {
        const Text one(1, static_cast<char>(code));
        const Text encoded = url_encode_utf8(one);
        if (encoded == one) continue;
        ++escaped;
        EXPECT_EQ(encoded, "%" + runtime::Text(code < 16 ? "0" : "") + runtime::hex_text(code)) << code;
    }
    EXPECT_EQ(escaped, 35);
}

TEST(UrlTest, ConvertsGbkToUtf8)
{
    EXPECT_EQ(gbk_to_utf8("飞岩"_gbk), runtime::bytes_of("飞岩"));
    EXPECT_EQ(gbk_to_utf8("ab"), runtime::bytes_of("ab"));
    EXPECT_EQ(gbk_to_utf8(std::string_view("a\0b", 3)), runtime::bytes_of("a"));
    EXPECT_TRUE(gbk_to_utf8("").empty());
}

TEST(UrlTest, SettlesTheMethod)
{
    struct Case
    {
        Text method;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"", "GET"},      {"get", "GET"},   {"GET", "GET"},   {"PUT", "GET"},
        {"POST ", "GET"}, {"POST", "POST"}, {"post", "post"}, {"Post", "Post"},
    };
    for (const Case& c : cases) {
        Text method = c.method;
        settle_method(method);
        EXPECT_EQ(method, c.expected) << c.method;
    }
}

TEST(UrlTest, CompletesTheHeaderText)
{
    const Text url = "http://shop/a";
    const Text accept =
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
        "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
    const Text referer = "Referer: http://shop/a\r\n";
    const Text language = "Accept-Language: zh-cn\r\n";
    struct Case
    {
        Text headers;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"", accept + referer + language},
        {"accept: text/html\r\n", "accept: text/html\r\n" + referer + language},
        {"REFERER: x\r\n", "REFERER: x\r\n" + accept + language},
        {"accept-language: en\r\n", "accept-language: en\r\n" + accept + referer},
        // "Accept-Language: " does not name "Accept: ".
        {"Accept-Language: en\r\nX: 1\r\n", "Accept-Language: en\r\nX: 1\r\n" + accept + referer},
        // The name is searched with its blank.
        {"Accept:text/html\r\n", "Accept:text/html\r\n" + accept + referer + language},
    };
    for (const Case& c : cases) {
        Text headers = c.headers;
        complete_request_headers(headers, url);
        EXPECT_EQ(headers, c.expected) << c.headers;
    }
}

TEST(UrlTest, AddsBodyHeadersForAPostWithABody)
{
    const Text type = "Content-Type: application/x-www-form-urlencoded\r\n";
    struct Case
    {
        Text method;
        Text body;
        Text expected;
    };
    const std::vector<Case> cases = {
        {"POST", "a=1&b=2", type + "Content-Length: 7\r\n"},
        {"post", "a", type + "Content-Length: 1\r\n"},
        {"POST", "名=飞"_gbk, type + "Content-Length: 5\r\n"}, // bytes, not characters
        {"POST", "", ""},
        {"GET", "a=1", ""},
    };
    for (const Case& c : cases) {
        Text headers = "X: 1\r\n";
        add_body_headers(headers, c.method, c.body);
        EXPECT_EQ(headers, "X: 1\r\n" + c.expected) << c.method << " " << utf8_from_gbk(c.body);
    }
    // A caller's own Content-Type does not stop the form type from being added.
    Text headers = "Content-Type: text/plain\r\n";
    add_body_headers(headers, "POST", "x");
    EXPECT_EQ(headers, "Content-Type: text/plain\r\n" + type + "Content-Length: 1\r\n");
}

} // namespace
} // namespace vorsa::online
