// Runs the fuzz entry of the command dispatcher in the ordinary test suite, built by any
// compiler: over the seed corpus, over seeds mutated with bytes and command words, and over
// random bytes, all from fixed seeds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Seeds() {
    std::vector<Bytes> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(PTZ_FUZZ_CORPUS_DIR)) {
        if (entry.path().extension() != ".bin")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

// Runs the entry on an exact-size copy, so the sanitizers see any read past the end.
int RunEntry(const Bytes& input) {
    const Bytes exact(input.begin(), input.end());
    return LLVMFuzzerTestOneInput(exact.data(), exact.size());
}

const char* const kWords[] = {"Reflector_true", "tilt_up", "pan_left", "pan_double_right",
                              "set_motor_home", "Preset_", "pre_down", "ZOOM_IN",
                              "RESTORE",        "GET /",   ":",        "-2147483648",
                              "32767",          "-32768",  " ",        "\r\n"};

TEST(PacketFuzzReplayTest, SeedCorpus) {
    const std::vector<Bytes> seeds = Seeds();
    ASSERT_GE(seeds.size(), 8u);
    for (const Bytes& seed : seeds) {
        EXPECT_EQ(RunEntry(seed), 0);
        // Every prefix of a seed is a packet cut short.
        for (std::size_t length = 0; length < seed.size(); ++length)
            EXPECT_EQ(RunEntry(Bytes(seed.begin(), seed.begin() + static_cast<long>(length))), 0);
    }
}

TEST(PacketFuzzReplayTest, MutatedSeeds) {
    const std::vector<Bytes> seeds = Seeds();
    ASSERT_FALSE(seeds.empty());
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 20000; ++round) {
        Bytes input = seeds[static_cast<std::size_t>(round) % seeds.size()];
        const int edits = 1 + round % 4;
        for (int i = 0; i < edits && input.size() > 1; ++i) {
            const std::size_t at = 1 + static_cast<std::size_t>(random()) % (input.size() - 1);
            switch (random() % 4) {
            case 0:
                input[at] = static_cast<std::uint8_t>(byte(random));
                break;
            case 1: {
                const char* word = kWords[random() % (sizeof kWords / sizeof kWords[0])];
                input.insert(input.begin() + static_cast<long>(at), word, word + std::strlen(word));
                break;
            }
            case 2:
                input.erase(input.begin() + static_cast<long>(at));
                break;
            default:
                input[0] = static_cast<std::uint8_t>(byte(random));
                break;
            }
        }
        ASSERT_EQ(RunEntry(input), 0);
    }
}

TEST(PacketFuzzReplayTest, RandomBytes) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(0, 64);
    for (int round = 0; round < 10000; ++round) {
        Bytes input(length(random));
        for (std::uint8_t& b : input)
            b = static_cast<std::uint8_t>(byte(random));
        ASSERT_EQ(RunEntry(input), 0);
    }
}

} // namespace
