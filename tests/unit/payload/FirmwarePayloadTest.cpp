#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "payload/FirmwarePayload.h"

namespace {

std::vector<uint8_t> BlockWithHeader(const char* header, size_t length) {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    std::memcpy(block.data(), header, length);
    return block;
}

TEST(FirmwarePayloadTest, TheProgramsOwnBlockIsUnfilledAsBuilt) {
    EXPECT_TRUE(FirmwarePayload::Program().IsPlaceholder());
}

TEST(FirmwarePayloadTest, PlaceholderIsTheFirstFifteenBytesExactly) {
    std::vector<uint8_t> block = BlockWithHeader("INSERT_FIRMWARE-anything", 24);
    EXPECT_TRUE(FirmwarePayload(block.data()).IsPlaceholder());
    block[14] = 'e';
    EXPECT_FALSE(FirmwarePayload(block.data()).IsPlaceholder());
    block = BlockWithHeader("insert_firmware", 15);
    EXPECT_FALSE(FirmwarePayload(block.data()).IsPlaceholder());
}

TEST(FirmwarePayloadTest, StoredChecksumReadsLikeHexScanf) {
    struct Case {
        const char text[5];
        uint16_t expected;
    } cases[] = {
        {"97AB", 0x97AB}, {"97ab", 0x97AB}, {"A3F", 0x0A3F}, {" 1F", 0x1F},
        {"0x1F", 0x1F},   {"0X7a", 0x7A},   {"+12", 0x12},   {"-1", 0xFFFF},
        {"zz", 0},        {"", 0},          {"12G4", 0x12},  {"\t\n9", 9},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block(PayloadBlockSize, 0);
        std::memcpy(block.data() + PayloadChecksumOffset, c.text, std::strlen(c.text));
        EXPECT_EQ(FirmwarePayload(block.data()).StoredChecksum(), c.expected) << '"' << c.text << '"';
    }
}

TEST(FirmwarePayloadTest, StoredChecksumNeverReadsPastFourCharacters) {
    std::vector<uint8_t> block(PayloadBlockSize, 0);
    std::memcpy(block.data() + PayloadChecksumOffset, "12345", 5);
    EXPECT_EQ(FirmwarePayload(block.data()).StoredChecksum(), 0x1234);
}

TEST(FirmwarePayloadTest, ImageChecksumAddsUnsignedBytesModulo65536) {
    std::vector<uint8_t> ones(ImageSize, 0xFF);
    EXPECT_EQ(ImageChecksum(ones.data(), ones.size()), 0x0000);
    const uint8_t high[] = {0x80, 0x80, 0x01};
    EXPECT_EQ(ImageChecksum(high, sizeof high), 0x0101);
    EXPECT_EQ(ImageChecksum(high, 0), 0);
}

TEST(FirmwarePayloadTest, ModelIdIsTheDigitMinusZeroModulo256) {
    struct Case {
        uint8_t byte;
        uint8_t expected;
    } cases[] = {{'4', 4}, {'0', 0}, {'9', 9}, {0, 208}};
    for (const Case& c : cases) {
        std::vector<uint8_t> block(PayloadBlockSize, 0);
        block[PayloadModelOffset] = c.byte;
        EXPECT_EQ(FirmwarePayload(block.data()).ModelId(), c.expected);
    }
}

}  // namespace
