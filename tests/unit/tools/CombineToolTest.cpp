#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "payload/FirmwarePayload.h"
#include "tools/CombineTool.h"
#include "tools/PayloadCombiner.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

void WriteFile(const fs::path& path, const Bytes& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes contents(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
    return contents;
}

// A folder of the test's own with a program holding one unfilled block and
// a valid image.
class CombineToolTest : public ::testing::Test {
  public:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = fs::temp_directory_path() / ("combine-tool-" + name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        program = folder / "program.exe";
        image = folder / "image.bin";
        output = folder / "combined.exe";
        programBytes.assign(0x28000, 0x90);
        std::memcpy(programBytes.data() + 0x10, "INSERT_FIRMWARE", 16);  // the bare literal
        blockOffset = 0x4321;
        std::fill(programBytes.begin() + blockOffset,
                  programBytes.begin() + blockOffset + PayloadBlockSize, 0);
        std::memcpy(programBytes.data() + blockOffset, PlaceholderText, PlaceholderLength);
        WriteFile(program, programBytes);
        imageBytes.resize(ImageSize);
        for (size_t i = 0; i < ImageSize; ++i) imageBytes[i] = static_cast<uint8_t>(i ^ (i >> 7));
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
    size_t FilesInFolder() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    fs::path folder, program, image, output;
    Bytes programBytes, imageBytes;
    size_t blockOffset = 0;
    std::ostringstream out, err;
};

TEST_F(CombineToolTest, FillsOnlyTheBlockOfACopy) {
    ASSERT_EQ(Run(Args()), 0) << err.str();
    const Bytes combined = ReadFile(output);
    ASSERT_EQ(combined.size(), programBytes.size());
    Bytes expected = programBytes;
    FillPayloadBlock(expected.data() + blockOffset, imageBytes.data(), "1.58", '4');
    EXPECT_TRUE(combined == expected);
    const FirmwarePayload payload(combined.data() + blockOffset);
    EXPECT_EQ(payload.StoredChecksum(), ImageChecksum(imageBytes.data(), ImageSize));
    EXPECT_EQ(payload.ModelId(), 4);
    EXPECT_TRUE(ReadFile(program) == programBytes);
    EXPECT_EQ(FilesInFolder(), 3u);  // no temporary file left behind
}

TEST_F(CombineToolTest, ReplacesAnExistingOutput) {
    WriteFile(output, Bytes(10, 1));
    ASSERT_EQ(Run(Args()), 0) << err.str();
    EXPECT_EQ(ReadFile(output).size(), programBytes.size());
}

struct Refusal {
    const char* name;
    std::function<std::vector<std::string>(CombineToolTest&)> arrange;
    const char* why;  // part of the message
};

class CombineRefusalTest : public CombineToolTest, public ::testing::WithParamInterface<Refusal> {};

// Each refusal: a non-zero exit, a message naming the reason, and no file
// written anywhere.
TEST_P(CombineRefusalTest, WritesNothing) {
    const Refusal& r = GetParam();
    const std::vector<std::string> args = r.arrange(*this);
    const size_t files = FilesInFolder();
    EXPECT_NE(Run(args), 0);
    EXPECT_NE(err.str().find(r.why), std::string::npos) << err.str();
    EXPECT_EQ(err.str().rfind("combine-firmware: ", 0), 0u) << err.str();
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(FilesInFolder(), files);
    EXPECT_TRUE(ReadFile(program) == programBytes);
}

Refusal ImageOfSize(const char* name, size_t size) {
    return {name,
            [size](CombineToolTest& t) {
                WriteFile(t.image, Bytes(size, 1));
                return t.Args();
            },
            "bytes, not 131072"};
}

Refusal Version(const char* name, const std::string& version, const char* why) {
    return {name, [version](CombineToolTest& t) { return t.Args(version); }, why};
}

Refusal Model(const char* name, const std::string& model) {
    return {name, [model](CombineToolTest& t) { return t.Args("1.58", model); }, "one digit"};
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, CombineRefusalTest,
    ::testing::Values(
        ImageOfSize("ImageOneByteShort", ImageSize - 1),
        ImageOfSize("ImageOneByteLong", ImageSize + 1), ImageOfSize("ImageEmpty", 0),
        Version("VersionEmpty", "", "empty"), Version("VersionTooLong", "1.580", "longer than 4"),
        Version("VersionNotPrintable", "1\t5", "printable"), Model("ModelEmpty", ""),
        Model("ModelTwoDigits", "12"), Model("ModelLetter", "A"),
        Refusal{"NoUnfilledBlock",
                [](CombineToolTest& t) {
                    t.programBytes[t.blockOffset + 20] = 1;  // not all zeros any more
                    WriteFile(t.program, t.programBytes);
                    return t.Args();
                },
                "no unfilled payload block"},
        Refusal{"TwoUnfilledBlocks",
                [](CombineToolTest& t) {
                    t.programBytes.resize(t.programBytes.size() + PayloadBlockSize, 0);
                    std::memcpy(t.programBytes.data() + t.programBytes.size() - PayloadBlockSize,
                                PlaceholderText, PlaceholderLength);
                    WriteFile(t.program, t.programBytes);
                    return t.Args();
                },
                "2 unfilled payload blocks"},
        Refusal{"OutputIsTheInput",
                [](CombineToolTest& t) {
                    std::vector<std::string> args = t.Args();
                    args[4] = t.program.string();
                    t.output = t.folder / "none";
                    return args;
                },
                "is the program itself"},
        Refusal{"OutputIsTheInputSpelledOtherwise",
                [](CombineToolTest& t) {
                    std::vector<std::string> args = t.Args();
                    args[4] = (t.folder / "." / "sub" / ".." / "program.exe").string();
                    t.output = t.folder / "none";
                    return args;
                },
                "is the program itself"},
        Refusal{"ProgramMissing",
                [](CombineToolTest& t) {
                    std::vector<std::string> args = t.Args();
                    args[0] = (t.folder / "missing.exe").string();
                    return args;
                },
                "cannot read"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(CombineToolTest, HelpAndMalformedCommandLines) {
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out.str().find("usage: combine-firmware PROGRAM IMAGE VERSION MODEL OUTPUT"),
              std::string::npos);
    EXPECT_EQ(Run({}), 2);
    EXPECT_NE(err.str().find("usage:"), std::string::npos);
    EXPECT_EQ(Run({program.string(), image.string(), "1"}), 2);
    EXPECT_EQ(Run({"--inspect"}), 2);
    EXPECT_EQ(Run({"--bogus", "a", "b", "c", "d"}), 2);
}

TEST_F(CombineToolTest, InspectTellsUnfilledFromFilledAndChecksMatch) {
    ASSERT_EQ(Run({"--inspect", program.string()}), 0);
    EXPECT_EQ(out.str(), "payload block at 0x4321: unfilled\n");

    ASSERT_EQ(Run(Args("2.0", "6")), 0) << err.str();
    char sum[8];
    std::snprintf(sum, sizeof sum, "%04X", ImageChecksum(imageBytes.data(), ImageSize));
    ASSERT_EQ(Run({"--inspect", output.string()}), 0);
    EXPECT_EQ(out.str(), std::string("payload block at 0x4321: filled\nversion: 2.0\n") +
                             "checksum text: " + sum + "\nimage checksum: " + sum +
                             " (matches)\nmodel digit: 6\n");

    Bytes damaged = ReadFile(output);
    damaged[blockOffset + PayloadImageOffset + 9] ^= 0x40;
    WriteFile(output, damaged);
    ASSERT_EQ(Run({"--inspect", output.string()}), 0);
    EXPECT_NE(out.str().find(" (does not match)\n"), std::string::npos) << out.str();

    WriteFile(output, Bytes(0x30000, 0x90));
    EXPECT_EQ(Run({"--inspect", output.string()}), 1);
    EXPECT_NE(err.str().find("holds no payload block"), std::string::npos);
}

}  // namespace
