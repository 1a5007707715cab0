// A fuzz target without libFuzzer: runs each file in the folders named through
// the target once. The unit-test builds replay the corpora and regressions with it.
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    int runs = 0;
    for (int i = 1; i < argc; ++i)
        for (const auto& file : std::filesystem::directory_iterator(argv[i])) {
            const std::string bytes = FileBytes(file);
            std::fprintf(stderr, "%s\n", file.path().c_str());  // the input of a failure
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++runs;
        }
    std::fprintf(stderr, "%d inputs replayed\n", runs);
    return runs > 0 ? 0 : 1;
}
