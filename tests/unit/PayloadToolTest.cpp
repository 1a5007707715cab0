// The payload block as the program reads it, and the combining tool's
// command line over real files.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "flash/FormatText.h"
#include "tests/unit/Rig.h"
#include "tools/CombineTool.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Payload, PlaceholderImageChecksumAndModelId) {
    const Bytes ones(ImageSize, 0xFF), high = {0x80, 0x80, 0x01};
    EXPECT_EQ(ImageChecksum(ones.data(), ones.size()), 0);
    EXPECT_EQ(ImageChecksum(high.data(), high.size()), 0x0101);
    Bytes block(PayloadBlockSize, 0);  // the model byte less the digit 0, as a byte
    EXPECT_EQ(FirmwarePayload(block.data()).ModelId(), 208);
}

void WriteFile(const fs::path& path, const Bytes& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(contents.data()),
               static_cast<std::streamsize>(contents.size()));
}

// The block at 0x4321 once more at the end.
void AppendBlock(Bytes& bytes) {
    const Bytes block(bytes.begin() + 0x4321, bytes.begin() + 0x4321 + PayloadBlockSize);
    bytes.insert(bytes.end(), block.begin(), block.end());
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A folder of the test's own with a program holding the bare placeholder
// literal, one unfilled block at 0x4321 and a placeholder whose zeros run
// out before a whole block, and an image whose sum, 0x0049, keeps leading
// zeros in its text.
class Combine : public ::testing::Test {
  public:
    void SetUp() override {
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::fill_n(&programBytes[0x4321], PayloadBlockSize, 0);
        std::fill_n(&programBytes[0x27000], 0x1000, 0);
        for (size_t at : {0x10, 0x4321, 0x27000})
            std::memcpy(&programBytes[at], "INSERT_FIRMWARE", 15);
        WriteFile(program, programBytes);
        imageBytes.front() = 0x3F;
        imageBytes.back() = 0x0A;
        WriteFile(image, imageBytes);
    }
    void TearDown() override { fs::remove_all(folder); }

    int Run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return RunCombineTool(args, out, err);
    }
    std::vector<std::string> Args(const std::string& version = "1.58",
                                  const std::string& model = "4") {
        return {program.string(), image.string(), version, model, output.string()};
    }
    // The program as combined with version 1.58 and model 4.
    Bytes Combined() const {
        Bytes bytes = programBytes;
        const char header[PayloadHeaderSize] =
            "1.58\0"
            "0049\0\0\0\0\0\0\0"
            "4";
        std::copy(header, header + PayloadHeaderSize, bytes.begin() + 0x4321);
        std::copy(imageBytes.begin(), imageBytes.end(),
                  bytes.begin() + 0x4321 + PayloadImageOffset);
        return bytes;
    }
    int Inspect(const Bytes& bytes) {
        WriteFile(output, bytes);
        return Run({"--inspect", output.string()});
    }
    size_t Files() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
    }

    // Of this run alone: several builds may run their tests at once.
    fs::path folder = fs::temp_directory_path() /
                      ("combine-" + std::to_string(std::random_device()()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path program = folder / "program.exe", image = folder / "image.bin",
             output = folder / "combined.exe";
    Bytes programBytes = Bytes(0x28000, 0x90), imageBytes = Bytes(ImageSize, 0);
    std::ostringstream out, err;
};

TEST_F(Combine, FillsTheBlockOfACopyAndReplacesAnOlderOutput) {
    WriteFile(output, Bytes(10, 1));
    WriteFile(folder / "combined.exe.combine-0.tmp", Bytes(3, 7));  // someone else's
    ASSERT_EQ(Run(Args()), 0) << err.str();
    EXPECT_EQ(out.str(), "payload block at 0x4321: version 1.58, checksum 0049, model 4\nwrote " +
                             output.string() + "\n");
    EXPECT_TRUE(ReadFile(output) == Combined());
    EXPECT_EQ(ReadFile(folder / "combined.exe.combine-0.tmp"), Bytes(3, 7));
    EXPECT_EQ(Files(), 4u);
}

// A version no drive of the model can report is combined, with a warning:
// the runs can then never find a drive up to date. --inspect tells either way.
TEST_F(Combine, TellsWhetherTheVersionCanBeARevisionOfTheModel) {
    const struct {
        const char *version, *model;
        bool fits;
        const char* text;
    } cases[] = {
        {"5.1V", "4", true,
         "version \"5.1V\" is a revision of model 4 (\"5.*V\"): up to date can be"},
        {"1.58", "4", false, "is no revision of model 4 (\"5.*V\"): up to date can never"},
        {"5.1V", "2", false, "model digit 2 names no drive model: up to date can never"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Run(Args(c.version, c.model)), 0) << err.str();
        EXPECT_EQ(err.str().find(c.text) != std::string::npos, !c.fits) << err.str();
        ASSERT_EQ(Run({"--inspect", output.string()}), 0);
        const size_t line = out.str().find("\nrevision: ");
        EXPECT_NE(out.str().find(c.text, line), std::string::npos) << out.str();
    }
}

// Each refusal: exit code 1, a message naming the reason, nothing written.
TEST_F(Combine, RefusesWithAReasonAndWritesNothing) {
    auto refused = [this](const std::vector<std::string>& args, const char* why) {
        const size_t files = Files();
        EXPECT_EQ(Run(args), 1) << why;
        EXPECT_EQ(err.str().rfind("combine-firmware: ", 0), 0u) << err.str();
        EXPECT_NE(err.str().find(why), std::string::npos) << err.str();
        EXPECT_EQ(Files(), files);
        EXPECT_FALSE(fs::is_regular_file(output));
    };
    const char* const texts[][3] = {{"", "4", "empty"},
                                    {"1.580", "4", "longer than 4"},
                                    {"1\t5", "4", "printable"},
                                    {"1.58", "12", "one digit"}};
    for (const auto& [version, model, why] : texts) refused(Args(version, model), why);
    std::vector<fs::path> names = {program, folder / "." / "sub" / ".." / "program.exe"};
#ifndef _WIN32  // under Wine two hard links of one file show two file indexes (measured)
    fs::create_hard_link(program, names.emplace_back(folder / "link"));
#endif
    for (const fs::path& same : names)
        refused({program.string(), image.string(), "1", "1", same.string()},
                "is the program itself");
    refused({program.string(), image.string(), "1", "1", (folder / "no" / "x").string()},
            "cannot create");
    fs::create_directory(output);
    refused(Args(), ("cannot replace " + output.string() + ": ").c_str());
    fs::remove(output);
    WriteFile(image, Bytes(ImageSize + 1, 1));
    refused(Args(), "bytes, not 131072");
    fs::remove(image);
    refused(Args(), "cannot read");
    WriteFile(image, imageBytes);
    programBytes[0x4321 + 20] = 1;  // the block's zeros broken
    WriteFile(program, programBytes);
    refused(Args(), "no unfilled payload block");
    programBytes[0x4321 + 20] = 0;
    AppendBlock(programBytes);
    WriteFile(program, programBytes);
    refused(Args(), "2 unfilled payload blocks, not one");
}

TEST_F(Combine, HelpAndMalformedCommandLines) {
    EXPECT_EQ(Run({"-h"}), 0);
    EXPECT_EQ(out.str().rfind("usage: combine-firmware PROGRAM IMAGE VERSION MODEL OUTPUT\n", 0),
              0u);
    for (const char* line :
         {"", "a b c", "--inspect", "z a", "--inspect a b", "--x a b c d", "a b c d e f"}) {
        std::istringstream words(line);
        EXPECT_EQ(Run({std::istream_iterator<std::string>(words), {}}), 2) << line;
        EXPECT_EQ(err.str().rfind("usage: ", 0), 0u);
    }
}

// What --inspect finds: the unfilled block, else the one block that looks
// filled, else among several the one whose checksum holds.
TEST_F(Combine, InspectTellsTheBlockItFinds) {
    ASSERT_EQ(Run({"--inspect", program.string()}), 0);
    EXPECT_EQ(out.str(), "payload block at 0x4321: unfilled\n");
    Bytes two = Combined();
    AppendBlock(two);
    const size_t second = two.size() - PayloadBlockSize;
    const std::string filled = ": filled\nversion: 1.58\nchecksum text: 0049\nimage checksum: ";
    const std::string at4321 = "payload block at 0x4321" + filled;
    const struct {
        std::function<void(Bytes&)> change;
        int code;
        std::string text;
    } cases[] = {
        // One block, ending where the file ends.
        {[](Bytes& b) { b.resize(0x4321 + PayloadBlockSize); }, 0,
         at4321 + "0049 (matches)\nmodel digit: 4\n"},
        {[](Bytes& b) { b.resize(0x4321 + PayloadBlockSize), b[0x4321 + 41] = 0x40; }, 0,
         at4321 + "0089 (does not match)\nmodel digit: 4\n"},
        {[](Bytes& b) { b[0x4321 + PayloadImageOffset] = 0; }, 0,
         FormatText("payload block at 0x%X", static_cast<unsigned>(second)) + filled +
             "0049 (matches)\n"},
        {[&](Bytes& b) { b[second + PayloadImageOffset] = 0; }, 0, at4321 + "0049 (matches)\n"},
        {[&](Bytes& b) { b[0x4321 + PayloadImageOffset] = b[second + PayloadImageOffset] = 0; }, 1,
         "holds 2 blocks that could be the payload"},
        {[&](Bytes& b) { b.resize(second + PayloadBlockSize - 1), b[0x4321 + 4] = 1; }, 1,
         "holds no payload block"},
        {AppendBlock, 1, "holds 3 blocks"},
    };
    for (const auto& c : cases) {
        Bytes bytes = two;
        c.change(bytes);
        EXPECT_EQ(Inspect(bytes), c.code);
        EXPECT_NE((c.code ? err : out).str().find(c.text), std::string::npos)
            << out.str() << err.str();
    }
    AppendBlock(programBytes);
    WriteFile(program, programBytes);
    EXPECT_EQ(Run({"--inspect", program.string()}), 1);
    EXPECT_NE(err.str().find("holds 2 unfilled payload blocks"), std::string::npos);
}

// A block looks filled only with every header byte as the tool writes
// them: one changed byte at a time.
TEST_F(Combine, InspectAcceptsOnlyHeadersTheToolCouldHaveWritten) {
    const struct {
        size_t at;
        uint8_t byte;
        bool found;
    } cases[] = {
        {0, 0, false},    {1, 0, false},    {3, ' ', true},  {3, '~', true},  {3, 0x1F, false},
        {3, 0x7F, false}, {8, 'A', true},   {8, 'F', true},  {8, 'a', true},  {8, 'f', true},
        {8, '/', false},  {8, ':', false},  {8, '@', false}, {8, 'G', false}, {8, '`', false},
        {8, 'g', false},  {9, 1, false},    {15, 1, false},  {16, '0', true}, {16, '9', true},
        {16, '/', false}, {16, ':', false}, {17, 1, false},  {31, 1, false},
    };
    for (const auto& c : cases) {
        Bytes bytes = Combined();
        bytes[0x4321 + c.at] = c.byte;
        EXPECT_EQ(Inspect(bytes), c.found ? 0 : 1) << c.at << " " << int(c.byte);
    }
    // One character is enough for either text (version "1", checksum text "0"),
    // the rest of each field NUL.
    Bytes one = Combined();
    std::fill_n(&one[0x4321 + 1], 3, 0);
    std::fill_n(&one[0x4321 + 6], 3, 0);
    EXPECT_EQ(Inspect(one), 0);
}

}  // namespace
