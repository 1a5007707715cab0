// A fuzz target without libFuzzer: runs each file named, or in the folders
// named, through the target once. The unit-test builds replay the seed
// corpora and the regression inputs with it.
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> files = {argv[i]};
        if (fs::is_directory(argv[i]))
            files.assign(fs::directory_iterator(argv[i]), fs::directory_iterator());
        for (const fs::path& file : files) {
            const std::string bytes = FileBytes(file);
            std::fprintf(stderr, "%s\n", file.c_str());  // the input of a failure
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++runs;
        }
    }
    std::fprintf(stderr, "%d inputs replayed\n", runs);
    return runs > 0 ? 0 : 1;
}
