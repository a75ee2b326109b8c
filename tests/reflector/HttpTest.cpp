// The relay's own request parsing and routing, without sockets.

#include "core/Http.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

TEST(Http, PercentDecodingKeepsWhatIsNotAnEscape) {
    const struct {
        const char* in;
        bool plusIsSpace;
        const char* out;
    } cases[] = {
        {"a%20b", true, "a b"},     {"a+b", true, "a b"},         {"a+b", false, "a+b"},
        {"%41%62%2f", true, "Ab/"}, {"50%", true, "50%"},         {"%2", true, "%2"},
        {"%zz%4", true, "%zz%4"},   {"%C3%A9", true, "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(percentDecode(c.in, c.plusIsSpace), c.out) << c.in;
    }
}

TEST(Http, FormsAndTargetsAreSplitAndDecoded) {
    const Fields form = parseForm("a=1&&b=x%26y+z&c&=v");
    ASSERT_EQ(form.size(), 4u);
    EXPECT_EQ(form[0], (std::pair<std::string, std::string>{"a", "1"}));
    EXPECT_EQ(form[1], (std::pair<std::string, std::string>{"b", "x&y z"}));
    EXPECT_EQ(form[2], (std::pair<std::string, std::string>{"c", ""}));
    EXPECT_EQ(form[3], (std::pair<std::string, std::string>{"", "v"}));

    const HttpRequest req = makeRequest("GET", "/webcams/live%2Fx?id=..%2Fcam&t=1&id=2", {},
                                        {{"content-TYPE", "text/plain"}});
    EXPECT_EQ(req.path, "/webcams/live/x");
    EXPECT_EQ(req.param("id"), "../cam") << "the first value counts";
    EXPECT_TRUE(req.hasParam("t"));
    EXPECT_FALSE(req.hasParam("T"));
    EXPECT_EQ(req.header("Content-Type"), "text/plain") << "header names ignore case";
    EXPECT_TRUE(hasMediaType("Application/X-WWW-Form-Urlencoded; charset=utf-8",
                             "application/x-www-form-urlencoded"));
    EXPECT_FALSE(hasMediaType("multipart/form-data-x", "multipart/form-data"));
}

TEST(Http, MultipartBodiesAreReadPartByPart) {
    const std::string type = "multipart/form-data; charset=x; boundary=\"b0\"";
    const std::string good =
        "preamble\r\n--b0\r\nContent-Disposition: form-data; name=\"id\"\r\n\r\n"
        "cam\r\n--b0  \r\nContent-Disposition: form-data; name=\"frame\"; "
        "filename=\"a.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n"
        "x\r\n--b1\r\ny\r\n--b0--\r\nepilogue";
    const auto parts = parseMultipart(type, good);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), 2u);
    EXPECT_EQ((*parts)[0].name, "id");
    EXPECT_EQ((*parts)[0].content, "cam");
    EXPECT_EQ((*parts)[1].fileName, "a.jpg");
    EXPECT_EQ((*parts)[1].contentType, "image/jpeg");
    EXPECT_EQ((*parts)[1].content, "x\r\n--b1\r\ny") << "only the boundary ends a part";

    const struct {
        const char* what;
        std::string type;
        std::string body;
    } broken[] = {
        {"no closing delimiter", type,
         "--b0\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx"},
        {"no boundary", "multipart/form-data", "--b0--\r\n"},
        {"not multipart", "text/plain; boundary=b0", "--b0--\r\n"},
        {"part without disposition", type, "--b0\r\nContent-Type: x\r\n\r\nx\r\n--b0--\r\n"},
        {"part without a name", type,
         "--b0\r\nContent-Disposition: form-data\r\n\r\nx\r\n--b0--\r\n"},
        {"no delimiter at all", type, "just bytes"},
    };
    for (const auto& c : broken) {
        EXPECT_FALSE(parseMultipart(c.type, c.body)) << c.what;
    }
}

TEST(Http, RouterPrefersExactPathsAndServesHeadByGet) {
    Router router;
    router.add("GET", "/webcams/live", [](const HttpRequest&) { return textAnswer(200, "live"); });
    router.add("POST", "/webcams/live", [](const HttpRequest&) { return textAnswer(200, "post"); });
    router.addPrefix("GET", "/webcams/",
                     [](const HttpRequest& r) { return textAnswer(200, "viewer " + r.path); });
    const struct {
        const char* method;
        const char* target;
        int status;
        const char* body;
    } cases[] = {
        {"GET", "/webcams/live?id=a", 200, "live"},
        {"HEAD", "/webcams/live", 200, "live"},
        {"POST", "/webcams/live", 200, "post"},
        {"GET", "/webcams/cam1", 200, "viewer /webcams/cam1"},
        {"GET", "/webcams/a/b", 404, "Not found"},
        {"GET", "/webcams/", 404, "Not found"},
        {"POST", "/webcams/cam1", 404, "Not found"},
        {"DELETE", "/webcams/live", 404, "Not found"},
    };
    for (const auto& c : cases) {
        const HttpAnswer answer = router.route(makeRequest(c.method, c.target));
        EXPECT_EQ(answer.status, c.status) << c.method << ' ' << c.target;
        EXPECT_EQ(answer.body, c.body) << c.method << ' ' << c.target;
    }
}

} // namespace
} // namespace reflector
