// Replays fuzz inputs without libFuzzer: every file named on the command
// line, or every file in a named folder, goes through the target once.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
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
            for (const auto& e : std::filesystem::directory_iterator(p, ec))
                if (e.is_regular_file()) runs += replay(e.path());
        } else if (std::filesystem::is_regular_file(p, ec)) {
            runs += replay(p);
        }
    }
    std::printf("replayed %d inputs\n", runs);
    return 0;
}
