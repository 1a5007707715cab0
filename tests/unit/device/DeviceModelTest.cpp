#include <gtest/gtest.h>

#include <cstring>

#include "device/DeviceAccess.h"
#include "device/DeviceList.h"

namespace {

DeviceRecord RecordWithTarget(uint8_t adapter, uint8_t target) {
    DeviceRecord record = ZeroDeviceRecord();
    record.AdapterId = adapter;
    record.TargetId = target;
    return record;
}

TEST(DeviceListTest, KeepsDiscoveryOrderAndRefusesIndexesOutside) {
    DeviceList list;
    EXPECT_EQ(list.At(0), nullptr);
    list.Append(RecordWithTarget(0, 1));
    list.Append(RecordWithTarget(1, 0));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.At(0)->TargetId, 1);
    EXPECT_EQ(list.At(1)->AdapterId, 1);
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(list.At(2), nullptr);
}

TEST(DeviceListTest, StoresACopyNotAReference) {
    DeviceList list;
    DeviceRecord record = RecordWithTarget(0, 3);
    list.Append(record);
    record.TargetId = 7;
    EXPECT_EQ(list.At(0)->TargetId, 3);
}

TEST(DeviceAddressingTest, SplitsAPositionIntoBankAndOffset) {
    struct Case {
        uint32_t position;
        uint8_t bufferId;
        uint16_t offset;
    } cases[] = {{0, 0, 0}, {0x1C000, 1, 0xC000}, {0x24000, 2, 0x4000}, {0x101C000, 1, 0xC000}};
    for (const Case& c : cases) {
        EXPECT_EQ(BufferIdOf(c.position), c.bufferId) << std::hex << c.position;
        EXPECT_EQ(BufferOffsetOf(c.position), c.offset) << std::hex << c.position;
    }
}

}  // namespace
