// Feeds every file of the corpora named on the command line (directories or
// files) to the fuzz target once: the normal build and the sanitizer build
// replay the committed corpora without libFuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
        if (fs::is_directory(argv[i]))
            std::copy(fs::directory_iterator(argv[i]), fs::directory_iterator(), std::back_inserter(inputs));
        else
            inputs.emplace_back(argv[i]);
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path &p : inputs) {
        std::ifstream in(p, std::ios::binary);
        std::vector<char> data{std::istreambuf_iterator<char>(in), {}};
        if (!in.is_open() || !fs::is_regular_file(p)) {
            std::fprintf(stderr, "cannot read %s\n", p.c_str());
            return 1;
        }
        // A heap block of exactly the input's size, so reads past it are caught.
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[data.size()]);
        std::copy(data.begin(), data.end(), exact.get());
        LLVMFuzzerTestOneInput(exact.get(), data.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
