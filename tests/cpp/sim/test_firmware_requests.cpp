// The firmware's answers to the vendor requests, its state, its request log and request faults.
#include <gtest/gtest.h>

#include <cstring>

#include "firmware_harness.h"
#include "sim/firmware/firmware.h"

namespace zvsim {
namespace {

using testing::port_record;
using testing::vendor_in;
using testing::vendor_out;

float float_at(const std::vector<uint8_t> &b, size_t at) {
    float f;
    std::memcpy(&f, b.data() + at, 4);
    return f;
}

TEST(Identity, BlockCarriesTheConfiguredFields) {
    DetectorConfig c;
    c.serial = "HLM25-D12345VL";
    c.firmware = {2, 5, 9};
    c.samplerate = 65000000;
    c.adcbits = 12;
    c.calibrations[0] = {1.5f, -0.25f};
    c.calibrations[5] = {3.0f, 7.0f};
    Firmware fw(c);
    auto a = vendor_in(fw, 0x30, 0, 0, 72);
    ASSERT_FALSE(a.stalled);
    ASSERT_EQ(a.data.size(), 72u);
    EXPECT_EQ(a.data[1], 2);
    EXPECT_EQ(a.data[2], 5);
    EXPECT_EQ(a.data[3], 9);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&a.data[4])), "HLM25-D12345VL");
    EXPECT_EQ(a.data[19], 12);
    EXPECT_EQ(a.data[20] | a.data[21] << 8 | a.data[22] << 16 | a.data[23] << 24, 65000000);
    EXPECT_EQ(float_at(a.data, 24), 1.5f);
    EXPECT_EQ(float_at(a.data, 28), -0.25f);
    EXPECT_EQ(float_at(a.data, 64), 3.0f);
    EXPECT_EQ(float_at(a.data, 68), 7.0f);
    EXPECT_EQ(float_at(a.data, 32), 0.0f);
}

TEST(Identity, FullFifteenByteSerialIsNotTerminatedAndAnswersAreCutToTheLength) {
    DetectorConfig c;
    c.serial = "ABCDEFGHIJKLMNO";
    Firmware fw(c);
    auto a = vendor_in(fw, 0x30, 0, 0, 72);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&a.data[4]), 15), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(a.data[19], 14); // adcbits follows at once
    EXPECT_EQ(identity_serial(fw.identity()), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(vendor_in(fw, 0x30, 0, 0, 10).data.size(), 10u);
}

TEST(Identity, GivenBlockIsAnsweredVerbatim) {
    DetectorConfig c;
    c.identity.assign(72, 0);
    for (size_t i = 0; i < 72; ++i)
        c.identity[i] = uint8_t(i * 3);
    std::memcpy(&c.identity[4], "XYZ\0", 4);
    Firmware fw(c);
    auto a = vendor_in(fw, 0x30, 0, 0, 72);
    EXPECT_EQ(a.data, c.identity);
    EXPECT_EQ(identity_serial(fw.identity()), "XYZ");
}

TEST(Config, RejectsWhatCannotBeServed) {
    DetectorConfig c;
    c.serial = std::string(16, 'x');
    EXPECT_THROW(validate(c), std::invalid_argument);
    c = DetectorConfig();
    c.identity.assign(71, 0);
    EXPECT_THROW(validate(c), std::invalid_argument);
    EXPECT_NO_THROW(validate(DetectorConfig()));
}

TEST(Features, SetReadAndUnsupported) {
    Firmware fw{DetectorConfig()};
    EXPECT_EQ(fw.features(), kFeatureDefaults);
    for (uint16_t f = 0; f < 4; ++f) {
        ASSERT_TRUE(vendor_out(fw, 0xCC, 1, f));
        EXPECT_EQ(vendor_in(fw, 0xCD, 0, f, 1).data, std::vector<uint8_t>{1});
        ASSERT_TRUE(vendor_out(fw, 0xCC, 0, f));
        EXPECT_EQ(vendor_in(fw, 0xCD, 0, f, 1).data, std::vector<uint8_t>{0});
    }
    ASSERT_TRUE(vendor_out(fw, 0xCC, 1, 2));
    EXPECT_EQ(fw.features(), (FeatureStates{0, 0, 1, 0}));
    // An unknown feature reads as negative and cannot be set.
    EXPECT_EQ(vendor_in(fw, 0xCD, 0, 4, 1).data, std::vector<uint8_t>{0x80});
    EXPECT_FALSE(vendor_out(fw, 0xCC, 1, 4));
}

TEST(AdcRegisters, WritesAreKeptReadableAndCommitted) {
    Firmware fw{DetectorConfig()};
    ASSERT_TRUE(vendor_out(fw, 0xC0, 0x0123, 11));
    EXPECT_EQ(fw.adc().written().at(11), 0x0123);
    EXPECT_EQ(vendor_in(fw, 0xC2, 0, 11, 1).data, std::vector<uint8_t>{0x23});
    EXPECT_EQ(vendor_in(fw, 0xC2, 0, 12, 1).data, std::vector<uint8_t>{0}); // never written
    EXPECT_FALSE(vendor_out(fw, 0xC0, 1, 256));
    EXPECT_TRUE(vendor_in(fw, 0xC2, 0, 300, 1).stalled);

    // The pattern register takes effect at the commit only.
    ASSERT_TRUE(vendor_out(fw, 0xC0, 4, 13));
    EXPECT_EQ(fw.adc().pattern().code(), 0);
    ASSERT_TRUE(vendor_out(fw, 0xC0, 1, 255));
    EXPECT_EQ(fw.adc().pattern().code(), 4);
    ASSERT_TRUE(vendor_out(fw, 0xC0, 0, 13));
    ASSERT_TRUE(vendor_out(fw, 0xC0, 0, 255)); // commit needs data 1
    EXPECT_EQ(fw.adc().pattern().code(), 4);
    ASSERT_TRUE(vendor_out(fw, 0xC0, 1, 255));
    EXPECT_EQ(fw.adc().pattern().code(), 0);
    // An unknown pattern code streams normal data.
    ASSERT_TRUE(vendor_out(fw, 0xC0, 5, 13));
    ASSERT_TRUE(vendor_out(fw, 0xC0, 1, 255));
    EXPECT_FALSE(fw.adc().pattern().active());
}

TEST(Ports, CommandsAreKeptAndReportedBack) {
    Firmware fw{DetectorConfig()};
    auto pwm = port_record(4, 0, 100000, 2500);
    ASSERT_TRUE(vendor_out(fw, 0xC8, 1, 0, pwm));
    EXPECT_EQ(vendor_in(fw, 0xC8, 1, 4, 10).data, pwm);
    PortRecord r = decode_port_record(fw.ports().record(1));
    EXPECT_EQ(r.mode, 4);
    EXPECT_EQ(r.period, 100000u);
    EXPECT_EQ(r.threshold, 2500u);
    EXPECT_EQ(vendor_in(fw, 0xC8, 0, 0, 10).data, std::vector<uint8_t>(10, 0)); // untouched

    EXPECT_FALSE(vendor_out(fw, 0xC8, 7, 0, port_record(1, 1, 0, 0))); // no port 7
    EXPECT_FALSE(vendor_out(fw, 0xC8, 1, 0, port_record(2, 0, 0, 0))); // no mode 2
    EXPECT_FALSE(vendor_out(fw, 0xC8, 1, 0, {1, 1}));                  // short record
    EXPECT_TRUE(vendor_in(fw, 0xC8, 7, 0, 10).stalled);
    EXPECT_TRUE(vendor_in(fw, 0xC9, 7, 0, 1).stalled);
    EXPECT_EQ(vendor_in(fw, 0xC8, 1, 4, 10).data, pwm); // refused commands changed nothing
}

TEST(Ports, ReadsAnswerDrivenInputAndStreamLevels) {
    DetectorConfig c;
    c.samples = {0x4000 | 5, 0x8000 | 6};
    Firmware fw(c);
    auto level = [&](uint16_t port) { return vendor_in(fw, 0xC9, port, 0, 1).data.at(0); };
    ASSERT_TRUE(vendor_out(fw, 0xC8, 0, 0, port_record(1, 1, 0, 0)));
    EXPECT_EQ(level(0), 1);
    ASSERT_TRUE(vendor_out(fw, 0xC8, 0, 0, port_record(0, 0, 0, 0)));
    EXPECT_EQ(level(0), 0);
    fw.ports().set_input(0, 1);
    EXPECT_EQ(level(0), 1);
    // S and T inputs read the bits of the next word to be streamed.
    EXPECT_EQ(level(2), 1);
    EXPECT_EQ(level(3), 0);
    fw.samples().set_position(1);
    EXPECT_EQ(level(2), 0);
    EXPECT_EQ(level(3), 1);
    fw.ports().set_input(3, 0);
    EXPECT_EQ(level(3), 0);
}

TEST(Reset, RestoresPowerUpState) {
    Firmware fw{DetectorConfig()};
    vendor_out(fw, 0xCC, 1, 0);
    vendor_out(fw, 0xC0, 6, 13);
    vendor_out(fw, 0xC0, 1, 255);
    vendor_out(fw, 0xC8, 3, 0, port_record(1, 1, 0, 0));
    ASSERT_TRUE(vendor_out(fw, 0x21, 0, 0));
    EXPECT_EQ(fw.features(), kFeatureDefaults);
    EXPECT_TRUE(fw.adc().written().empty());
    EXPECT_FALSE(fw.adc().pattern().active());
    EXPECT_EQ(decode_port_record(fw.ports().record(3)).mode, 0);
}

TEST(RequestLog, RecordsVendorRequestsOnlyWithTheirData) {
    Firmware fw{DetectorConfig()};
    testing::get_descriptor(fw, 1, 0, 18);
    vendor_out(fw, 0xC8, 2, 0, port_record(1, 1, 0, 0));
    vendor_in(fw, 0xCD, 0, 1, 1);
    vendor_in(fw, 0x99, 1, 2, 4); // unknown: stalls
    vendor_in(fw, 0xCC, 0, 0, 1); // known code, wrong direction: stalls
    const auto &log = fw.log().entries();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_FALSE(log[0].in);
    EXPECT_EQ(log[0].request, 0xC8);
    EXPECT_EQ(log[0].value, 2);
    EXPECT_EQ(log[0].data, port_record(1, 1, 0, 0));
    EXPECT_TRUE(log[1].in);
    EXPECT_EQ(log[1].index, 1);
    EXPECT_EQ(log[1].data, std::vector<uint8_t>{0});
    EXPECT_FALSE(log[1].stalled);
    EXPECT_TRUE(log[2].stalled);
    EXPECT_TRUE(log[2].data.empty());
    EXPECT_EQ(log[2].index, 2);
    EXPECT_TRUE(log[3].stalled);
    fw.log().clear();
    EXPECT_TRUE(fw.log().entries().empty());
}

TEST(RequestLog, KeepsTheMostRecentEntries) {
    RequestLog log;
    for (size_t i = 0; i < RequestLog::kCapacity + 3; ++i)
        log.add({false, uint8_t(i), uint16_t(i), 0, {}, false});
    ASSERT_EQ(log.entries().size(), RequestLog::kCapacity);
    EXPECT_EQ(log.entries().front().value, 3);
}

TEST(RequestFaults, StallCountedOrUntilCleared) {
    Firmware fw{DetectorConfig()};
    fw.request_faults().stall(0x30, 2);
    EXPECT_TRUE(vendor_in(fw, 0x30, 0, 0, 72).stalled);
    EXPECT_TRUE(vendor_in(fw, 0x30, 0, 0, 72).stalled);
    EXPECT_FALSE(vendor_in(fw, 0x30, 0, 0, 72).stalled);
    fw.request_faults().stall(0xCC, RequestFaults::kUntilCleared);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(vendor_out(fw, 0xCC, 1, 0));
    EXPECT_EQ(fw.features()[0], 0); // stalled requests change nothing
    fw.request_faults().clear();
    EXPECT_TRUE(vendor_out(fw, 0xCC, 1, 0));
    fw.request_faults().stall(0xCC, 0); // zero count: no fault
    EXPECT_TRUE(vendor_out(fw, 0xCC, 1, 0));
}

TEST(RequestFaults, RespondAnswersInRequestsWithGivenBytes) {
    Firmware fw{DetectorConfig()};
    fw.request_faults().respond(0xC9, {0xFF}, 1);
    fw.request_faults().respond(0xCD, {1, 2, 3}, RequestFaults::kUntilCleared);
    EXPECT_EQ(vendor_in(fw, 0xC9, 0, 0, 1).data, std::vector<uint8_t>{0xFF});
    EXPECT_EQ(vendor_in(fw, 0xC9, 0, 0, 1).data, std::vector<uint8_t>{0});
    EXPECT_EQ(vendor_in(fw, 0xCD, 0, 0, 1).data, std::vector<uint8_t>{1});         // cut to wLength
    EXPECT_EQ(vendor_in(fw, 0xCD, 0, 0, 8).data, (std::vector<uint8_t>{1, 2, 3})); // short
    // Answers never apply to OUT requests; stalls come first.
    fw.request_faults().respond(0xCC, {9}, 1);
    EXPECT_TRUE(vendor_out(fw, 0xCC, 1, 0));
    fw.request_faults().stall(0xCD, 1);
    EXPECT_TRUE(vendor_in(fw, 0xCD, 0, 0, 1).stalled);
    EXPECT_EQ(fw.log().entries().back().data, std::vector<uint8_t>{});
}

TEST(StandardRequests, StatusConfigurationAndInterface) {
    Firmware fw{DetectorConfig()};
    std::vector<uint8_t> b(2, 0xEE);
    EXPECT_EQ(fw.control({0x80, 0, 0, 0, 2}, b.data()).length, 2u);
    EXPECT_EQ(b, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(fw.control({0x80, 8, 0, 0, 1}, b.data()).length, 1u);
    EXPECT_EQ(b[0], 1);
    EXPECT_FALSE(fw.control({0x01, 11, 1, 0, 0}, nullptr).stalled); // SET_INTERFACE alt 1
    EXPECT_EQ(fw.alt_setting(), 1);
    EXPECT_TRUE(fw.control({0x01, 11, 2, 0, 0}, nullptr).stalled);
    EXPECT_EQ(fw.control({0x81, 10, 0, 0, 1}, b.data()).length, 1u);
    EXPECT_EQ(b[0], 1);
    EXPECT_TRUE(fw.control({0x80, 0x42, 0, 0, 0}, nullptr).stalled);
    EXPECT_TRUE(fw.control({0xA0, 1, 0, 0, 0}, nullptr).stalled); // class request
    EXPECT_TRUE(fw.log().entries().empty());
}

} // namespace
} // namespace zvsim
