// The firmware's standard descriptors at both speeds, strings, and raw overrides.
#include <gtest/gtest.h>

#include "firmware_harness.h"
#include "sim/firmware/firmware.h"

namespace zvsim {
namespace {

using testing::get_descriptor;

uint16_t u16(const std::vector<uint8_t> &d, size_t at) {
    return uint16_t(d[at] | d[at + 1] << 8);
}

// Splits a descriptor table into its descriptors, checking that their lengths tile it exactly.
std::vector<std::vector<uint8_t>> split(const std::vector<uint8_t> &table) {
    std::vector<std::vector<uint8_t>> parts;
    size_t at = 0;
    while (at < table.size()) {
        EXPECT_GE(table[at], 2u);
        EXPECT_LE(at + table[at], table.size());
        parts.emplace_back(table.begin() + at, table.begin() + at + table[at]);
        at += table[at];
    }
    EXPECT_EQ(at, table.size());
    return parts;
}

std::vector<uint8_t> full_configuration(Firmware &fw) {
    auto header = get_descriptor(fw, 2, 0, 9);
    EXPECT_EQ(header.data.size(), 9u);
    return get_descriptor(fw, 2, 0, u16(header.data, 2)).data;
}

std::u16string string_at(Firmware &fw, uint8_t index) {
    auto d = get_descriptor(fw, 3, index, 255, 0x0409).data;
    EXPECT_EQ(d[0], d.size());
    EXPECT_EQ(d[1], 3);
    std::u16string s;
    for (size_t i = 2; i + 1 < d.size(); i += 2)
        s.push_back(char16_t(u16(d, i)));
    return s;
}

TEST(Descriptors, SuperSpeedDeviceConfigurationAndBos) {
    DetectorConfig c;
    c.vendor = 0x04B4;
    c.product = 0x0070;
    Firmware fw(c);
    auto device = get_descriptor(fw, 1, 0, 18).data;
    ASSERT_EQ(device.size(), 18u);
    EXPECT_EQ(device[0], 18);
    EXPECT_EQ(u16(device, 2), 0x0300);
    EXPECT_EQ(u16(device, 8), 0x04B4);
    EXPECT_EQ(u16(device, 10), 0x0070);
    EXPECT_EQ(u16(device, 12), 0x0102); // firmware 1.0.2
    EXPECT_EQ(device[17], 1);

    auto parts = split(full_configuration(fw));
    ASSERT_EQ(parts.size(), 5u);
    EXPECT_EQ(parts[0][1], 2);
    EXPECT_EQ(parts[0][4], 1); // one interface
    EXPECT_EQ(parts[1], (std::vector<uint8_t>{9, 4, 0, 0, 0, 0xFF, 0, 0, 0}));
    EXPECT_EQ(parts[2], (std::vector<uint8_t>{9, 4, 0, 1, 1, 0xFF, 0, 0, 0}));
    EXPECT_EQ(parts[3][1], 5);
    EXPECT_EQ(parts[3][2], 0x83);
    EXPECT_EQ(parts[3][3], 1); // isochronous
    ASSERT_EQ(parts[4][1], 48);
    const uint32_t p = isochronous_packet_size(u16(parts[3], 4), true, parts[4][2], parts[4][3]);
    EXPECT_EQ(p, fw.descriptors().stream_packet_size());
    EXPECT_EQ(u16(parts[4], 4), p); // bytes per interval
    EXPECT_GT(p / 2, 5120u);        // a packet can carry the data-loss marker

    auto bos_header = get_descriptor(fw, 15, 0, 5).data;
    ASSERT_EQ(bos_header.size(), 5u);
    auto bos = get_descriptor(fw, 15, 0, u16(bos_header, 2)).data;
    auto caps = split(std::vector<uint8_t>(bos.begin() + 5, bos.end()));
    ASSERT_EQ(caps.size(), bos[4]);
    EXPECT_EQ(caps[0][2], 2); // USB 2.0 extension
    EXPECT_EQ(caps[1][2], 3); // SuperSpeed
    EXPECT_EQ(caps[2][2], 4); // container id
    EXPECT_EQ(caps[2].size(), 20u);
}

TEST(Descriptors, HighSpeedHasNoCompanionOrBos) {
    DetectorConfig c;
    c.speed = Speed::high;
    Firmware fw(c);
    EXPECT_EQ(u16(get_descriptor(fw, 1, 0, 18).data, 2), 0x0200);
    auto parts = split(full_configuration(fw));
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(isochronous_packet_size(u16(parts[3], 4), false, 0, 0),
              fw.descriptors().stream_packet_size());
    EXPECT_EQ(fw.descriptors().stream_packet_size(), 3072u);
    EXPECT_TRUE(get_descriptor(fw, 15, 0, 5).stalled);
}

TEST(Descriptors, StringsCarryTheIdentitySerial) {
    DetectorConfig c;
    c.identity.assign(72, 0);
    const char serial[] = "HLM25-D77777NF";
    std::copy(serial, serial + 14, c.identity.begin() + 4);
    Firmware fw(c);
    auto languages = get_descriptor(fw, 3, 0, 255).data;
    EXPECT_EQ(languages, (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
    EXPECT_EQ(string_at(fw, 1), u"zv");
    EXPECT_EQ(string_at(fw, 2), u"HLM25 (simulated)");
    EXPECT_EQ(string_at(fw, 3), u"HLM25-D77777NF");
    EXPECT_TRUE(get_descriptor(fw, 3, 4, 255).stalled);
    EXPECT_EQ(get_descriptor(fw, 3, 3, 2).data, (std::vector<uint8_t>{30, 3}));
}

TEST(Descriptors, OverridesAreServedVerbatimUntilCleared) {
    Firmware fw{DetectorConfig()};
    const std::vector<uint8_t> broken = {9, 2, 200, 0, 1, 1, 0, 0x80, 50, 9, 4};
    fw.descriptors().override_descriptor(2, 0, broken);
    EXPECT_EQ(get_descriptor(fw, 2, 0, 255).data, broken);
    fw.descriptors().override_descriptor(15, 0, {5, 15, 99, 0, 7});
    EXPECT_EQ(get_descriptor(fw, 15, 0, 5).data, (std::vector<uint8_t>{5, 15, 99, 0, 7}));
    fw.descriptors().clear_overrides();
    EXPECT_EQ(split(full_configuration(fw)).size(), 5u);
}

} // namespace
} // namespace zvsim
