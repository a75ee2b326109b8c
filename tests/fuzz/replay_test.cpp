// Runs a fuzz entry in the ordinary test suite, built by any compiler: over the seed corpus
// (the .bin files of FUZZ_CORPUS_DIR), over mutations of the seeds (bytes changed, inserted and
// removed, and the words of the target's libFuzzer dictionary FUZZ_DICTIONARY inserted when it
// has one) and over random bytes (up to FUZZ_RANDOM_LENGTH), all from fixed seeds; FUZZ_ROUNDS
// inputs of each kind (20000 unless a slower entry asks for fewer). Each fuzz target builds it
// with its own entry.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef FUZZ_ROUNDS
#define FUZZ_ROUNDS 20000
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Seeds() {
    std::vector<Bytes> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CORPUS_DIR)) {
        if (entry.path().extension() != ".bin") {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

// Runs the entry on an exact-size copy, so the sanitizers see any read past the end.
// The words of a libFuzzer dictionary: one quoted word a line, with \\, \" and \xNN escapes.
std::vector<Bytes> DictionaryWords() {
    std::vector<Bytes> words;
#ifdef FUZZ_DICTIONARY
    std::ifstream in(FUZZ_DICTIONARY);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t open = line.find('"');
        const std::size_t close = line.rfind('"');
        if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open)
            continue;
        Bytes word;
        for (std::size_t i = open + 1; i < close; ++i) {
            if (line[i] == '\\' && i + 1 < close && line[i + 1] == 'x' && i + 3 < close) {
                word.push_back(
                    static_cast<std::uint8_t>(std::stoi(line.substr(i + 2, 2), nullptr, 16)));
                i += 3;
            } else if (line[i] == '\\' && i + 1 < close) {
                word.push_back(static_cast<std::uint8_t>(line[++i]));
            } else {
                word.push_back(static_cast<std::uint8_t>(line[i]));
            }
        }
        words.push_back(word);
    }
#endif
    return words;
}

int RunEntry(const Bytes& input) {
    const Bytes exact(input.begin(), input.end());
    return LLVMFuzzerTestOneInput(exact.data(), exact.size());
}

TEST(FuzzReplay, SeedCorpus) {
    const std::vector<Bytes> seeds = Seeds();
    ASSERT_GE(seeds.size(), 3u);
    for (const Bytes& seed : seeds) {
        EXPECT_EQ(RunEntry(seed), 0);
        // Every prefix of a seed is an input cut short.
        for (std::size_t length = 0; length < seed.size(); ++length) {
            EXPECT_EQ(RunEntry(Bytes(seed.begin(), seed.begin() + static_cast<long>(length))), 0);
        }
    }
}

TEST(FuzzReplay, MutatedSeeds) {
    const std::vector<Bytes> seeds = Seeds();
    const std::vector<Bytes> words = DictionaryWords();
    ASSERT_FALSE(seeds.empty());
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < FUZZ_ROUNDS; ++round) {
        Bytes input = seeds[static_cast<std::size_t>(round) % seeds.size()];
        const int edits = 1 + round % 4;
        for (int i = 0; i < edits && !input.empty(); ++i) {
            const std::size_t at = static_cast<std::size_t>(random()) % input.size();
            switch (random() % 4) {
            case 0:
                input[at] = static_cast<std::uint8_t>(byte(random));
                break;
            case 3:
                if (!words.empty()) {
                    const Bytes& word = words[static_cast<std::size_t>(random()) % words.size()];
                    input.insert(input.begin() + static_cast<long>(at), word.begin(), word.end());
                    break;
                }
                [[fallthrough]];
            case 1:
                input.insert(input.begin() + static_cast<long>(at),
                             static_cast<std::uint8_t>(byte(random)));
                break;
            default:
                input.erase(input.begin() + static_cast<long>(at));
                break;
            }
        }
        ASSERT_EQ(RunEntry(input), 0);
    }
}

TEST(FuzzReplay, RandomBytes) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<std::size_t> length(0, FUZZ_RANDOM_LENGTH);
    for (int round = 0; round < FUZZ_ROUNDS; ++round) {
        Bytes input(length(random));
        for (std::uint8_t& b : input) {
            b = static_cast<std::uint8_t>(byte(random));
        }
        ASSERT_EQ(RunEntry(input), 0);
    }
}

} // namespace
