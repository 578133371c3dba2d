// SPDX-License-Identifier: MIT
// Replays fuzz inputs without libFuzzer: every file named on the command
// line, or every file in a named folder, goes through the target once. A
// name that is neither, or a folder without a single input, fails the run:
// a corpus that went missing must not pass for a clean one.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char** argv) {
    int runs = 0;
    // The empty input always runs.
    LLVMFuzzerTestOneInput(nullptr, 0);
    ++runs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        const std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p, ec)) {
            int inFolder = 0;
            for (const auto& e : std::filesystem::directory_iterator(p, ec)) {
                if (!e.is_regular_file()) continue;
                replay(e.path());
                ++inFolder;
            }
            if (ec || inFolder == 0) {
                std::fprintf(stderr, "%s: no inputs in this corpus folder\n", argv[i]);
                return 1;
            }
            runs += inFolder;
        } else if (std::filesystem::is_regular_file(p, ec)) {
            replay(p);
            ++runs;
        } else {
            std::fprintf(stderr, "%s: no such corpus folder or input file\n", argv[i]);
            return 1;
        }
    }
    std::printf("replayed %d inputs\n", runs);
    return 0;
}
