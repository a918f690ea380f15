// Writes the seed corpus of the AVI reader fuzz target (avi_seed_corpus.h).
//
//   avi_fuzz_seeds <folder>   fills <folder>/seeds and empties <folder>/corpus
#include <cstdio>
#include <filesystem>

#include "tests/fuzz/avi_seed_corpus.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: avi_fuzz_seeds <folder>\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root = argv[1];
    std::error_code ec;
    fs::remove_all(root / "corpus", ec);
    fs::create_directories(root / "corpus", ec);
    fs::create_directories(root / "seeds", ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s\n", root.string().c_str());
        return 1;
    }
    return kelvora::test::WriteAviSeedCorpus((root / "seeds").string()) ? 0 : 1;
}
