#include <gtest/gtest.h>

#include <cstring>

#include "payload/FirmwarePayload.h"
#include "tools/PayloadCombiner.h"

namespace {

// A stand-in program file: filler bytes with an unfilled block at offset.
std::vector<uint8_t> ProgramWithBlockAt(size_t offset, size_t size) {
    std::vector<uint8_t> program(size);
    for (size_t i = 0; i < size; ++i) program[i] = static_cast<uint8_t>(0x11 + i % 200);
    std::fill(program.begin() + offset, program.begin() + offset + PayloadBlockSize, 0);
    std::memcpy(program.data() + offset, PlaceholderText, PlaceholderLength);
    return program;
}

std::vector<uint8_t> TestImage(uint8_t seed) {
    std::vector<uint8_t> image(ImageSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(seed + i * 3 + i / 1000);
    return image;
}

TEST(FindUnfilledBlocksTest, FindsTheBlockAndIgnoresTheBareLiteral) {
    std::vector<uint8_t> program = ProgramWithBlockAt(0x3000, 0x30000);
    // The comparison literal in the code, followed by other bytes.
    std::memcpy(program.data() + 0x100, "INSERT_FIRMWARE\0other text", 26);
    // Placeholder with zeros that run out before a whole block.
    std::memcpy(program.data() + 0x23100, PlaceholderText, PlaceholderLength);
    std::fill(program.begin() + 0x2310F, program.end(), 0);
    EXPECT_EQ(FindUnfilledBlocks(program), std::vector<size_t>{0x3000});
}

TEST(FindUnfilledBlocksTest, ReportsEveryBlockAndNoneInAFilledOrShortFile) {
    std::vector<uint8_t> two = ProgramWithBlockAt(0x10, 0x50000);
    std::fill(two.begin() + 0x10 + PayloadBlockSize, two.begin() + 0x10 + 2 * PayloadBlockSize, 0);
    std::memcpy(two.data() + 0x10 + PayloadBlockSize, PlaceholderText, PlaceholderLength);
    EXPECT_EQ(FindUnfilledBlocks(two), (std::vector<size_t>{0x10, 0x10 + PayloadBlockSize}));

    std::vector<uint8_t> atEnd = ProgramWithBlockAt(0x40, 0x40 + PayloadBlockSize);
    EXPECT_EQ(FindUnfilledBlocks(atEnd), std::vector<size_t>{0x40});
    atEnd.pop_back();
    EXPECT_TRUE(FindUnfilledBlocks(atEnd).empty());

    std::vector<uint8_t> filled = ProgramWithBlockAt(0x40, 0x30000);
    const std::vector<uint8_t> image = TestImage(1);
    FillPayloadBlock(filled.data() + 0x40, image.data(), "1.0", '3');
    EXPECT_TRUE(FindUnfilledBlocks(filled).empty());
}

TEST(FillPayloadBlockTest, WritesTheHeaderByteForByteAndTheImage) {
    std::vector<uint8_t> block(PayloadBlockSize, 0xCC);
    std::vector<uint8_t> image(ImageSize, 0);
    image[0] = 0x3F;
    image[1] = 0x0A;  // sums to 0x0049: the text keeps its leading zeros
    FillPayloadBlock(block.data(), image.data(), "1.5", '4');
    const uint8_t header[PayloadHeaderSize] = {'1', '.', '5', 0, 0, '0', '0', '4', '9', 0, 0,
                                               0,   0,   0,   0, 0, '4', 0,   0,   0,   0, 0};
    EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + PayloadHeaderSize),
              std::vector<uint8_t>(header, header + PayloadHeaderSize));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), block.begin() + PayloadImageOffset));
}

TEST(FillPayloadBlockTest, ChecksumTextIsUpperCaseAndReadsBackAsTheImageSum) {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    const std::vector<uint8_t> image = TestImage(7);
    FillPayloadBlock(block.data(), image.data(), "ABCD", '9');
    const uint16_t sum = ImageChecksum(image.data(), ImageSize);
    char expected[5];
    std::snprintf(expected, sizeof expected, "%04X", sum);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data() + 5), 4), expected);
    const FirmwarePayload payload(block.data());
    EXPECT_FALSE(payload.IsPlaceholder());
    EXPECT_EQ(payload.StoredChecksum(), sum);
    EXPECT_EQ(payload.ModelId(), 9);
    EXPECT_EQ(std::memcmp(block.data(), "ABCD", 4), 0);
    EXPECT_EQ(block[4], 0);
}

TEST(FindFilledBlocksTest, FindsWhatFillPayloadBlockWroteAndDescribesIt) {
    std::vector<uint8_t> program = ProgramWithBlockAt(0x2345, 0x30000);
    const std::vector<uint8_t> image = TestImage(3);
    FillPayloadBlock(program.data() + 0x2345, image.data(), "v2", '7');
    ASSERT_EQ(FindFilledBlocks(program), std::vector<size_t>{0x2345});
    FilledBlockInfo info = DescribeFilledBlock(program.data() + 0x2345);
    EXPECT_EQ(info.version, "v2");
    EXPECT_EQ(info.modelDigit, '7');
    EXPECT_TRUE(info.checksumMatches);
    EXPECT_EQ(info.imageChecksum, ImageChecksum(image.data(), ImageSize));

    program[0x2345 + PayloadImageOffset + 100] ^= 0xFF;
    info = DescribeFilledBlock(program.data() + 0x2345);
    EXPECT_FALSE(info.checksumMatches);
    EXPECT_EQ(FindFilledBlocks(ProgramWithBlockAt(0x2345, 0x30000)).size(), 0u);
}

TEST(CheckTextsTest, AcceptsOnlyShortPrintableVersionsAndOneDigitModels) {
    struct Case {
        std::string text;
        bool versionOk, modelOk;
    } cases[] = {
        {"1", true, true},          {"1.58", true, false}, {"", false, false},
        {"12345", false, false},    {"v 1", true, false},  {"a\x01", false, false},
        {"\xC3\xA9", false, false}, {"~", true, false},    {"0", true, true},
        {"a", true, false},         {"9", true, true},     {"12", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckVersionText(c.text).empty(), c.versionOk) << c.text;
        EXPECT_EQ(CheckModelText(c.text).empty(), c.modelOk) << c.text;
    }
}

}  // namespace
