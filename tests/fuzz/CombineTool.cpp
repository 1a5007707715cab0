// The combining tool: a program file, an image, a version and a model text from the input,
// inspected and combined; what is checked: docs/fuzz.md.
#include "tools/CombineTool.h"

#include <sstream>

#include "FuzzInput.h"
#include "payload/FirmwarePayload.h"
#include "tools/PayloadCombiner.h"

namespace {

namespace fs = std::filesystem;

char pattern[] = "/tmp/fuzz-combine-XXXXXX";
const fs::path folder = mkdtemp(pattern);  // the run's own

// The tool's exit code and what it wrote on its output.
std::pair<int, std::string> Tool(const std::vector<std::string>& args) {
    std::ostringstream o, e;
    return {RunCombineTool(args, o, e), o.str()};  // in this order
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t shape = in.Byte();
    const std::string version = in.Bytes(6), model = in.Bytes(2);
    // The program: input bytes around up to two blocks (unfilled or not); the image: one byte.
    const uint32_t sizes[4] = {ImageSize, ImageSize, ImageSize - 1, ImageSize + 1};
    const std::string image(sizes[shape & 3], char(shape));
    std::string program = in.Bytes(255);
    const int blocks = shape >> 2 & 3;
    bool placeholder = false;
    for (int block = 0; block < blocks; ++block) {
        placeholder = in.Bit();
        std::string header =
            placeholder ? std::string(PlaceholderText) : in.Bytes(PayloadHeaderSize);
        header.resize(PayloadHeaderSize);
        program +=
            header + std::string(ImageSize, placeholder ? '\0' : char(in.Byte())) + in.Bytes(255);
    }
    // The placeholder overlaps no shifted copy of itself: nothing else can look unfilled.
    const bool oneUnfilled = blocks == 1 && placeholder;
    const bool valid = version.size() >= 1 && version.size() <= 4 && ShownSafely(version, "") &&
                       model.size() == 1 && model[0] >= '0' && model[0] <= '9' &&
                       image.size() == ImageSize;
    program += in.Bytes(255);  // the rest
    const fs::path programPath = folder / "program", imagePath = folder / "image",
                   output = folder / "output";
    std::ofstream(programPath, std::ios::binary | std::ios::trunc) << program;
    std::ofstream(imagePath, std::ios::binary | std::ios::trunc) << image;
    fs::remove(output);

    const auto [code, said] = Tool({programPath, imagePath, version, model, output});
    FUZZ_CHECK(FileBytes(programPath) == program);
    FUZZ_CHECK(code == 0 || (code == 1 && !fs::exists(output)));
    FUZZ_CHECK(code != 0 || valid);
    if (oneUnfilled) FUZZ_CHECK((code == 0) == valid);
    const auto [inspection, inspected] = Tool({"--inspect", programPath});
    FUZZ_CHECK(inspection == 0 || inspection == 1);
    if (oneUnfilled) FUZZ_CHECK(inspected.find(": unfilled\n") != std::string::npos);
    if (code != 0) return 0;

    FUZZ_CHECK(said.rfind("payload block at 0x", 0) == 0);
    const size_t at = std::stoul(said.substr(19), nullptr, 16);
    const std::string combined = FileBytes(output);
    FUZZ_CHECK(at + PayloadBlockSize <= program.size());
    FUZZ_CHECK(combined ==
               std::string(program).replace(at, PayloadBlockSize, combined, at, PayloadBlockSize));
    const FirmwarePayload payload(reinterpret_cast<const uint8_t*>(combined.data()) + at);
    FUZZ_CHECK(!payload.IsPlaceholder() && payload.Version() == version &&
               payload.ModelId() == uint8_t(model[0] - '0'));
    FUZZ_CHECK(payload.StoredChecksum() ==
               ImageChecksum(reinterpret_cast<const uint8_t*>(image.data()), ImageSize));
    FUZZ_CHECK(std::memcmp(payload.Image(), image.data(), ImageSize) == 0);
    return 0;
}
