// fuzz_replay_main.cpp - runs a fuzz target over files, for builds without libFuzzer.
//
// Each argument is a file or a folder (walked recursively, in sorted order so that a failing
// input is found at the same place every run). Every file is passed once to
// LLVMFuzzerTestOneInput; a sanitizer or a crash ends the run, so ctest reports the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::filesystem::path> collect_inputs(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path root(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(root, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
        } else if (std::filesystem::is_regular_file(root, ec)) {
            files.push_back(root);
        } else {
            std::fprintf(stderr, "replay: no such input %s\n", argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    const auto files = collect_inputs(argc, argv);
    if (files.empty()) {
        std::fprintf(stderr, "replay: no input files\n");
        return 1;
    }
    for (const auto& file : files) {
        const auto bytes = read_file(file);
        // A copy of exactly the file's size, so that AddressSanitizer sees any read past it.
        std::vector<uint8_t> exact(bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
