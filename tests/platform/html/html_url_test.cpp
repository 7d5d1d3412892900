// Links are resolved exactly as the URL parser resolves them, whichever way the resolver
// takes: plain absolute paths are joined to the base's origin without the parser. The
// references hold nothing that the resolver's own cleaning would change. On a page in a legacy
// encoding, the queries of links are written in that encoding.
#include "platform/html/html_url.h"

#include <gtest/gtest.h>

namespace {

// What the parser alone makes of reference against base.
std::optional<std::string> ParserResolves(const std::string& base, const std::string& reference) {
    CURLU* url = curl_url();
    std::optional<std::string> result;
    char* text = nullptr;
    if (curl_url_set(url, CURLUPART_URL, base.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, reference.c_str(), CURLU_NON_SUPPORT_SCHEME) ==
            CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
        result = text;
        curl_free(text);
    }
    curl_url_cleanup(url);
    return result;
}

TEST(UrlResolver, PlainPathsResolveAsTheParserResolvesThem) {
    const std::string bases[] = {
        "http://127.0.0.1:8080/library.html?product_id=12&page=3#top",
        "HTTP://Example.COM/a/b/c.html",
        "https://example.com:443/x",
        "http://example.com",
        "http://user:pw@example.com/x",
        "http://[::1]:81/dir/",
        "ftp://example.com/dir/",
    };
    const std::string references[] = {
        "/download/l6file/0",
        "/l6file/1/Caf%C3%A9%20Crunch.l6t?pmw_filename=Caf%C3%A9%20Crunch.l6t",
        "/library.html?product_id=12&page=200",
        "/",
        "/a/./b",
        "/a/../b",
        "/a/b/..",
        "/.hidden",
        "/x?",
        "/x?#f",
        "/x#frag",
        "/x?q#frag",
        "/a%2e%2e/b",
        "/%zz",
        "/a[1]",
        "/a|b",
        "/a:b@c;d=e,f!$'()*+~",
        "//other.example/x",
        "relative/path",
        "../up",
        "?only=query",
    };
    for (const std::string& base : bases) {
        const UrlResolver resolver(base);
        for (const std::string& reference : references)
            EXPECT_EQ(resolver.Resolve(reference), ParserResolves(base, reference))
                << base << " + " << reference;
    }
}

TEST(UrlResolver, QueriesOfWebAddressesAreWrittenInTheLegacyPageEncoding) {
    const std::string e = "\xC3\xA9"; // 0xE9 in windows-1252
    const UrlResolver latin("http://h/dir/p.html", HtmlEncoding::Windows1252);
    EXPECT_EQ(latin.Resolve("caf" + e + "?q=caf" + e + " x#caf" + e),
              "http://h/dir/caf%C3%A9?q=caf%E9%20x#caf%C3%A9");
    EXPECT_EQ(latin.Resolve("ws://h/?q=" + e), "ws://h/?q=%C3%A9");
    EXPECT_EQ(UrlResolver("http://h/", HtmlEncoding::Utf16LE).Resolve("?q=" + e),
              "http://h/?q=%C3%A9");
    // Back to ASCII after the run; a byte that would read as '#' does not start the fragment.
    EXPECT_EQ(UrlResolver("http://h/", HtmlEncoding::Iso2022Jp).Resolve("?q=\xEF\xBC\xA1z"),
              "http://h/?q=%1B$B%23A%1B(Bz");
    EXPECT_EQ(UrlResolver("http://h/", HtmlEncoding::XUserDefined).Resolve("?q=\xEF\x9E\x80" + e),
              "http://h/?q=%80%26%23233%3B");
}

} // namespace
