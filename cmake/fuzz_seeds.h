// fuzz_seeds.h - what the writers of the committed seed corpora share: the corpus folder from
// the command line, and one seed file ("seed-NN") in a target's folder. Header only; a
// writer's main thread.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzz_seeds {

// The corpus folder, the writer's only argument; false, with the usage line, otherwise.
inline bool corpus_root(int argc, char** argv, std::filesystem::path& root)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return false;
    }
    root = argv[1];
    return true;
}

// Writes `bytes` as seed number n into dir, made when missing.
inline void write_seed(const std::filesystem::path& dir, int n, const std::string& bytes)
{
    std::filesystem::create_directories(dir);
    char name[32];
    std::snprintf(name, sizeof name, "seed-%02d", n);
    std::ofstream(dir / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace fuzz_seeds
