// Reading what a server says: what in its naming headers counts as a file name and what is
// ignored, and how its status line names a failure.
#include "platform/net/urlmon_failure.h"
#include "platform/net/urlmon_headers.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

namespace {

using urlmon::FileNameFromContentDisposition;
using urlmon::LastPathSegment;

TEST(ContentDisposition, OffersTheFileNameWithEscapesAsSent) {
    struct Case {
        const char* header;
        const char* name;
    } cases[] = {
        {"attachment; filename*=UTF-8''Caf%C3%A9.l6t", "Caf%C3%A9.l6t"},
        {"attachment; filename=\"plain.l6t\"; filename*=utf-8'en'ext%20name.l6t", "ext%20name.l6t"},
        {"attachment; filename=\"a;b \\\"c\\\".l6t\"", "a;b \"c\".l6t"},
        {"attachment; FileName = bare name.l6t ; size=3", "bare name.l6t"},
        {"filename=noType.l6t", "noType.l6t"},
        {"attachment; filename=\"Caf%C3%A9.l6t\"", "Caf%C3%A9.l6t"},
        {"attachment; filename=\"../../x\"", "../../x"}, // made safe when the file is named
        // An extended value without its charset quotes is ignored, the plain one used.
        {"attachment; filename*=Caf%C3%A9.l6t; filename=\"fallback.l6t\"", "fallback.l6t"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileNameFromContentDisposition(c.header).value_or("<none>"), c.name) << c.header;
}

TEST(ContentDisposition, OffersNothingWhenMalformedOrEmpty) {
    for (const char* header : {"attachment", "", "attachment; filename=\"unterminated.l6t",
                               "attachment; filename=", "attachment; filename*=UTF-8''",
                               "attachment; name=\"x.l6t\"", ";;;==;"}) {
        EXPECT_FALSE(FileNameFromContentDisposition(header).has_value()) << header;
    }
}

TEST(UrlNames, LastPathSegmentKeepsEscapesAndIgnoresQueryAndFragment) {
    EXPECT_EQ(LastPathSegment("http://h/dir/Caf%C3%A9.l6t?x=/y#z/w"), "Caf%C3%A9.l6t");
    EXPECT_EQ(LastPathSegment("http://h/dir/"), "");
    EXPECT_EQ(LastPathSegment("http://h?q=/a.l6t"), "");
}

TEST(StatusLine, AFailureIsNamedByTheServersPhraseElseTheStandardOne) {
    using urlmon::HttpFailureReason;
    using urlmon::StatusLinePhrase;
    EXPECT_EQ(StatusLinePhrase("HTTP/1.1 404 Not Found\r\n"), "Not Found");
    EXPECT_EQ(StatusLinePhrase("HTTP/1.1 503 Service  Unavailable \r\n"), "Service  Unavailable");
    EXPECT_EQ(StatusLinePhrase("HTTP/2 404 \r\n"), "");
    EXPECT_EQ(StatusLinePhrase("HTTP/1.0 404\r\n"), "");
    EXPECT_EQ(ToUtf8(HttpFailureReason(404, "Gone Fishing")), "HTTP 404 Gone Fishing");
    EXPECT_EQ(ToUtf8(HttpFailureReason(404, "")), "HTTP 404 Not Found");
    EXPECT_EQ(ToUtf8(HttpFailureReason(418, "")), "HTTP 418");
    EXPECT_EQ(ToUtf8(HttpFailureReason(500, "Bad\x01\x1b[31m")), "HTTP 500 Bad  [31m");
}

} // namespace
