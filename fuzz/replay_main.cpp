// Replays a deterministic set of inputs through a fuzz target: a few
// hand-made seeds from the target, then pseudo-random inputs built from a
// fixed seed by mutating those seeds. Run: <target>_replay [count] [files...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Seeds the target offers (may be empty).
std::vector<std::vector<std::uint8_t>> fuzzSeeds();

int main(int argc, char** argv)
{
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    std::vector<std::vector<std::uint8_t>> seeds = fuzzSeeds();
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (seeds.empty())
        seeds.emplace_back();
    for (const auto& seed : seeds)
        LLVMFuzzerTestOneInput(seed.data(), seed.size());

    std::mt19937 rng(12345);
    for (long n = 0; n < count; ++n) {
        std::vector<std::uint8_t> input = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            const auto& other = seeds[rng() % seeds.size()];
            const unsigned what = rng() % 5;
            if (what == 0 && !input.empty()) // flip a byte
                input[rng() % input.size()] = static_cast<std::uint8_t>(rng());
            else if (what == 1) // insert a byte
                input.insert(input.begin() + rng() % (input.size() + 1), static_cast<std::uint8_t>(rng()));
            else if (what == 2 && !input.empty()) // cut the tail
                input.resize(rng() % input.size());
            else if (what == 3) // append another seed
                input.insert(input.end(), other.begin(), other.end());
            else if (what == 4) // random bytes
                for (int k = static_cast<int>(rng() % 16); k > 0; --k)
                    input.push_back(static_cast<std::uint8_t>(rng()));
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("replayed %ld inputs and %zu seeds\n", count, seeds.size());
    return 0;
}
