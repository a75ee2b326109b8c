// Checks shared by the helper's tests.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace beacon::test {

// Every phrase the station searches the helper's answers for.
inline const std::vector<std::string>& StationPhrases() {
    static const std::vector<std::string> phrases{"Posting;",
                                                  "Polling;",
                                                  "Reflector;",
                                                  "Settings;",
                                                  "Dump OK",
                                                  "Shutdown;",
                                                  "Start OK",
                                                  "Stop OK",
                                                  "Check OK",
                                                  "Check FAIL",
                                                  "Settings written successfully.",
                                                  "Failed to synchronise settings."};
    return phrases;
}

// The answer holds each of `expected` and none of the station's other phrases.
inline void ExpectOnlyPhrases(const std::string& answer, const std::vector<std::string>& expected,
                              const std::string& label) {
    for (const auto& phrase : expected) {
        EXPECT_NE(answer.find(phrase), std::string::npos)
            << label << ": \"" << phrase << "\" missing in \"" << answer << "\"";
    }
    for (const auto& phrase : StationPhrases()) {
        bool wanted = false;
        for (const auto& e : expected) {
            wanted = wanted || e == phrase;
        }
        if (!wanted) {
            EXPECT_EQ(answer.find(phrase), std::string::npos)
                << label << ": unexpected \"" << phrase << "\" in \"" << answer << "\"";
        }
    }
}

// The listing data string with its field `index` (1 to 14) replaced.
inline std::string ReplaceField(const std::string& data, int index, const std::string& value) {
    std::string result;
    int field = 1;
    std::size_t at = 0;
    while (true) {
        const std::size_t end = data.find('&', at);
        const std::string current =
            data.substr(at, end == std::string::npos ? std::string::npos : end - at);
        result += field == index ? value : current;
        if (end == std::string::npos) {
            return result;
        }
        result += '&';
        at = end + 1;
        ++field;
    }
}

} // namespace beacon::test
