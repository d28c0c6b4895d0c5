// Descriptor tables: good ones parse into the configuration trees, malformed ones are refused
// without reading past the bytes given.
#include <gtest/gtest.h>

#include "descriptor_builder.h"
#include "usb/descriptor_parser.h"

using namespace zvusb;
using namespace zvtest;

namespace {

bool parse(const Bytes &b, bool companions = false) {
    ConfigurationDescriptor c;
    // A copy of exactly the table's bytes, so that a read past them is caught by the sanitizers.
    std::vector<uint8_t> exact(b);
    return parse_configuration_descriptor(exact.data(), exact.size(), companions, &c);
}

TEST(ConfigurationParser, DetectorTableGivesBothAlternateSettings) {
    Bytes b = detector_configuration(1024);
    ConfigurationDescriptor c;
    ASSERT_TRUE(parse_configuration_descriptor(b.data(), b.size(), false, &c));
    EXPECT_EQ(c.wTotalLength, b.size());
    ASSERT_EQ(c.interfaces.size(), 2u);
    EXPECT_EQ(c.interfaces[0].bAlternateSetting, 0);
    EXPECT_TRUE(c.interfaces[0].endpoints.empty());
    EXPECT_EQ(c.interfaces[1].bAlternateSetting, 1);
    ASSERT_EQ(c.interfaces[1].endpoints.size(), 1u);
    EXPECT_EQ(c.interfaces[1].endpoints[0].bEndpointAddress, 0x83);
    EXPECT_EQ(c.interfaces[1].endpoints[0].bmAttributes, 1);
    EXPECT_EQ(c.interfaces[1].endpoints[0].wMaxPacketSize, 1024);
    EXPECT_FALSE(c.interfaces[1].endpoints[0].has_companion);
}

TEST(ConfigurationParser, CompanionsAttachToTheirEndpointOnlyWhenAskedFor) {
    Bytes b = ConfigBuilder()
                  .interface(0, 0, 2)
                  .endpoint(0x83, 1, 1024)
                  .companion(15, 2, 49152)
                  .endpoint(0x02, 2, 1024)
                  .companion(3, 0, 0)
                  .build();
    ConfigurationDescriptor c;
    ASSERT_TRUE(parse_configuration_descriptor(b.data(), b.size(), true, &c));
    const auto &eps = c.interfaces.at(0).endpoints;
    ASSERT_EQ(eps.size(), 2u);
    EXPECT_TRUE(eps[0].has_companion);
    EXPECT_EQ(eps[0].ss_bMaxBurst, 15);
    EXPECT_EQ(eps[0].ss_bmAttributes, 2);
    EXPECT_EQ(eps[0].ss_wBytesPerInterval, 49152);
    EXPECT_EQ(eps[1].ss_bMaxBurst, 3);
    ASSERT_TRUE(parse_configuration_descriptor(b.data(), b.size(), false, &c));
    EXPECT_FALSE(c.interfaces.at(0).endpoints[0].has_companion);
}

TEST(ConfigurationParser, ClassSpecificDescriptorsAreSkipped) {
    Bytes b = ConfigBuilder()
                  .raw({8, 11, 0, 1, 0xFF, 0, 0, 0}) // interface association
                  .interface(0, 0, 1)
                  .raw({5, 0x24, 1, 2, 3}) // class-specific
                  .endpoint(0x81, 3, 8, 4)
                  .build();
    ConfigurationDescriptor c;
    ASSERT_TRUE(parse_configuration_descriptor(b.data(), b.size(), false, &c));
    EXPECT_EQ(c.interfaces.at(0).endpoints.at(0).bInterval, 4);
}

TEST(ConfigurationParser, MalformedTablesAreRefused) {
    Bytes good = detector_configuration();
    Bytes wrong_header = good;
    wrong_header[0] = 8;
    Bytes total_too_long = good;
    total_too_long[2] = uint8_t(good.size() + 1);
    Bytes total_too_short = good;
    total_too_short[2] = 5;
    Bytes truncated(good.begin(), good.end() - 3);
    Bytes zero_length = ConfigBuilder().interface(0, 0, 0).raw({0, 36, 1}).build();
    Bytes overrun = ConfigBuilder().interface(0, 0, 0).raw({40, 36, 1}).build();
    Bytes dangling_byte = ConfigBuilder().interface(0, 0, 0).raw({3}).build();
    Bytes short_interface = ConfigBuilder().raw({8, 4, 0, 0, 0, 0, 0, 0}).build();
    Bytes short_endpoint = ConfigBuilder().interface(0, 0, 1).raw({6, 5, 0x81, 2, 0, 2}).build();
    Bytes endpoint_first = ConfigBuilder().endpoint(0x81, 2, 512).interface(0, 0, 0).build();
    Bytes count_mismatch = ConfigBuilder().interface(0, 0, 2).endpoint(0x81, 2, 512).build();
    Bytes orphan_companion = ConfigBuilder().interface(0, 0, 0).companion(0, 0, 0).build();
    Bytes double_companion = ConfigBuilder()
                                 .interface(0, 0, 1)
                                 .endpoint(0x81, 2, 512)
                                 .companion(0, 0, 0)
                                 .companion(0, 0, 0)
                                 .build();
    EXPECT_TRUE(parse(good));
    EXPECT_FALSE(parse(wrong_header));
    EXPECT_FALSE(parse(total_too_long));
    EXPECT_FALSE(parse(total_too_short));
    EXPECT_FALSE(parse(truncated));
    EXPECT_FALSE(parse(zero_length));
    EXPECT_FALSE(parse(overrun));
    EXPECT_FALSE(parse(dangling_byte));
    EXPECT_FALSE(parse(short_interface));
    EXPECT_FALSE(parse(short_endpoint));
    EXPECT_FALSE(parse(endpoint_first));
    EXPECT_FALSE(parse(count_mismatch));
    EXPECT_FALSE(parse(orphan_companion, true));
    EXPECT_FALSE(parse(double_companion, true));
    EXPECT_TRUE(parse(double_companion, false)) << "without companions they are skipped";
    EXPECT_FALSE(parse(Bytes{9, 2, 9}));
}

TEST(ConfigurationParser, InterfaceAndEndpointLimits) {
    ConfigBuilder at_limit, over_limit;
    for (int i = 0; i < 255; ++i)
        at_limit.interface(uint8_t(i), 0, 0);
    for (int i = 0; i < 256; ++i)
        over_limit.interface(uint8_t(i % 256), uint8_t(i / 256), 0);
    EXPECT_TRUE(parse(at_limit.build()));
    EXPECT_FALSE(parse(over_limit.build()));

    ConfigBuilder eps32, eps33;
    eps32.interface(0, 0, 32);
    eps33.interface(0, 0, 33);
    for (int i = 0; i < 33; ++i) {
        if (i < 32) eps32.endpoint(uint8_t(0x81 + i % 15), 2, 512);
        eps33.endpoint(uint8_t(0x81 + i % 15), 2, 512);
    }
    EXPECT_TRUE(parse(eps32.build()));
    EXPECT_FALSE(parse(eps33.build()));
}

TEST(BosParser, CapabilitiesAreRead) {
    Bytes b = BosBuilder().usb20_extension(0x1E).superspeed(0x0E).container_id(0xAB).build();
    BosDescriptor bos;
    ASSERT_TRUE(parse_bos_descriptor(b.data(), b.size(), &bos));
    EXPECT_TRUE(bos.present);
    EXPECT_TRUE(bos.usb20_extension);
    EXPECT_EQ(bos.usb20_attributes, 0x1Eu);
    EXPECT_TRUE(bos.superspeed_capability);
    EXPECT_EQ(bos.superspeed_speeds, 0x0E);
    EXPECT_TRUE(bos.container_id);
    EXPECT_EQ(bos.container_uuid[15], 0xAB);
}

TEST(BosParser, UnknownCapabilitiesAreCountedNotInterpreted) {
    Bytes b = BosBuilder().raw({8, 16, 10, 0, 0, 0, 0, 0}, 1).superspeed(0x0E).build();
    BosDescriptor bos;
    EXPECT_TRUE(parse_bos_descriptor(b.data(), b.size(), &bos));
    EXPECT_TRUE(bos.superspeed_capability);
}

TEST(BosParser, TablesThatDoNotAddUpAreRefused) {
    auto bad = [](Bytes b) {
        BosDescriptor bos;
        std::vector<uint8_t> exact(b);
        return !parse_bos_descriptor(exact.data(), exact.size(), &bos);
    };
    Bytes good = BosBuilder().usb20_extension(2).superspeed(0x0E).build();
    Bytes count_high = good;
    count_high[4] = 3;
    Bytes count_low = good;
    count_low[4] = 1;
    Bytes total_long = good;
    total_long[2] = uint8_t(good.size() + 2);
    Bytes total_cuts_capability = good;
    total_cuts_capability[2] = uint8_t(good.size() - 3);
    Bytes wrong_type = good;
    wrong_type[1] = 14;
    Bytes capability_not_16 = good;
    capability_not_16[6] = 15;
    Bytes short_superspeed = BosBuilder().raw({6, 16, 3, 0, 0x0E, 0}, 1).build();
    Bytes short_usb20 = BosBuilder().raw({5, 16, 2, 0, 0}, 1).build();
    Bytes zero_length_cap = BosBuilder().raw({0, 16, 2}, 1).build();
    Bytes truncated(good.begin(), good.end() - 1);
    EXPECT_FALSE(bad(good));
    EXPECT_TRUE(bad(count_high));
    EXPECT_TRUE(bad(count_low));
    EXPECT_TRUE(bad(total_long));
    EXPECT_TRUE(bad(total_cuts_capability));
    EXPECT_TRUE(bad(wrong_type));
    EXPECT_TRUE(bad(capability_not_16));
    EXPECT_TRUE(bad(short_superspeed));
    EXPECT_TRUE(bad(short_usb20));
    EXPECT_TRUE(bad(zero_length_cap));
    EXPECT_TRUE(bad(truncated));
    EXPECT_TRUE(bad(Bytes{5, 15}));
}

TEST(DeviceDescriptorParser, NeedsEighteenBytesOfTypeOne) {
    Bytes good = device_descriptor(0x0200, 0x2E9D, 0x0080);
    DeviceDescriptor d;
    ASSERT_TRUE(parse_device_descriptor(good.data(), good.size(), &d));
    EXPECT_EQ(d.idVendor, 0x2E9D);
    EXPECT_EQ(d.idProduct, 0x0080);
    EXPECT_EQ(d.bcdUSB, 0x0200);
    EXPECT_EQ(d.bNumConfigurations, 1);
    Bytes wrong_length = good;
    wrong_length[0] = 12;
    Bytes wrong_type = good;
    wrong_type[1] = 2;
    EXPECT_FALSE(parse_device_descriptor(wrong_length.data(), wrong_length.size(), &d));
    EXPECT_FALSE(parse_device_descriptor(wrong_type.data(), wrong_type.size(), &d));
    EXPECT_FALSE(parse_device_descriptor(good.data(), 17, &d));
}

} // namespace
