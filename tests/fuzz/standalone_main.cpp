// Runs a fuzz target over files and folders of inputs, for builds without libFuzzer: the seed
// corpus and the regression inputs then run in the ordinary test suite.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run_file(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)),
                                     std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path p = argv[i];
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p)) {
                if (!e.is_regular_file()) continue;
                run_file(e.path());
                ++runs;
            }
        } else {
            run_file(p);
            ++runs;
        }
    }
    std::printf("%zu inputs ran\n", runs);
    return runs > 0 ? 0 : 1;
}
