// Runs a fuzz target's harness, without libFuzzer, over saved inputs: each
// file named on the command line, or every file of each folder named. CTest
// runs it over fuzz/regressions/<target>/, so every input that once broke a
// promise is checked again by the ordinary test suite.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (fs::is_directory(argv[i], error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error))
                if (entry.is_regular_file()) inputs.push_back(entry.path().string());
        } else if (fs::is_regular_file(argv[i], error)) {
            inputs.push_back(argv[i]);
        } else {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    for (const std::string& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s (%zu bytes)\n", path.c_str(), bytes.size());
        // An exact-size copy, so that a read past the input's end is caught.
        uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes.size() ? bytes.size() : 1));
        if (!copy) return 2;
        std::copy(bytes.begin(), bytes.end(), copy);
        LLVMFuzzerTestOneInput(copy, bytes.size());
        std::free(copy);
    }
    std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
    return 0;
}
