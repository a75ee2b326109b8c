#include "core/CameraId.h"
#include "core/Jpeg.h"

#include <gtest/gtest.h>
#include <string>

namespace reflector {
namespace {

TEST(CameraId, AcceptsLettersDigitsDashAndUnderscore) {
    EXPECT_TRUE(isValidCameraId("a"));
    EXPECT_TRUE(isValidCameraId("Zx9Qw3Er5Ty7Ui1O"));
    EXPECT_TRUE(isValidCameraId("garden-cam_2"));
    EXPECT_TRUE(isValidCameraId(std::string(kMaxCameraIdLength, 'x')));
}

TEST(CameraId, RefusesEmptyTooLongAndOtherCharacters) {
    EXPECT_FALSE(isValidCameraId(""));
    EXPECT_FALSE(isValidCameraId(std::string(kMaxCameraIdLength + 1, 'x')));
    for (const char* id : {"with space", "dot.dot", "../etc", "a/b", "a\\b", "quote'", "semi;colon",
                           "percent%41", "tab\t", "line\r\n", "caf\xC3\xA9"}) {
        EXPECT_FALSE(isValidCameraId(id)) << id;
    }
    EXPECT_FALSE(isValidCameraId(std::string("nul\0byte", 8)));
}

TEST(Jpeg, NeedsStartAndEndMarkers) {
    EXPECT_TRUE(looksLikeJpeg(std::string("\xFF\xD8\xFF\xD9", 4)));
    EXPECT_TRUE(looksLikeJpeg(std::string("\xFF\xD8 any bytes \xFF\xD9", 15)));
    EXPECT_FALSE(looksLikeJpeg(""));
    EXPECT_FALSE(looksLikeJpeg(std::string("\xFF\xD8\xD9", 3)));
    EXPECT_FALSE(looksLikeJpeg(std::string("\xFF\xD8 no end marker", 16)));
    EXPECT_FALSE(looksLikeJpeg(std::string("no start \xFF\xD9", 11)));
    EXPECT_FALSE(looksLikeJpeg("\x89PNG\r\n\x1A\n"));
}

} // namespace
} // namespace reflector
