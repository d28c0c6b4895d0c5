// Vendor requests, front-end features, ADC test patterns and reset, witnessed by the simulated
// detector's request log.
#include <vector>

#include "sim_fixture.h"

namespace {

class Settings : public SimTest {
  protected:
    void SetUp() override {
        det = attach("HLM25-S00001IC");
        dev = open_clean(det);
        ASSERT_NE(dev, nullptr);
    }
    std::shared_ptr<zvsim::SimulatedDetector> det;
    zv_device *dev = nullptr;
};

TEST_F(Settings, RequestsCarryTheirFieldsAndData) {
    const std::vector<uint8_t> payload = port_record(1, 1, 0, 0);
    EXPECT_EQ(zv_out_request(dev, 0xC0, 0x1234, 0x0042, nullptr, 0, 500), 0);
    EXPECT_EQ(zv_out_request(dev, 0xC8, 2, 0, payload.data(), 10, 1000), 0);
    uint8_t answer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(zv_in_request(dev, 0xCD, 0, 1, answer, 1, 1000), 0);
    EXPECT_EQ(answer[1], 0xEE); // only `length` bytes are written
    std::vector<Request> expected = {{false, 0xC0, 0x1234, 0x42, {}},
                                     {false, 0xC8, 2, 0, payload},
                                     {true, 0xCD, 0, 1, {answer[0]}}};
    EXPECT_EQ(requests_of(*det), expected);
}

TEST_F(Settings, FailedRequestStoresItsErrorAndSuccessKeepsIt) {
    det->fail_request(0xC0);
    EXPECT_EQ(zv_out_request(dev, 0xC0, 0, 13, nullptr, 0, 1000), 32);
    EXPECT_EQ(error_string(), "usb out request error");
    det->fail_request(0xCD);
    uint8_t b = 0;
    EXPECT_EQ(zv_in_request(dev, 0xCD, 0, 0, &b, 1, 1000), 32);
    EXPECT_EQ(error_string(), "usb in request error");
    // A later success leaves the stored error in place.
    EXPECT_EQ(zv_in_request(dev, 0xCD, 0, 0, &b, 1, 1000), 0);
    EXPECT_EQ(zv_get_error(), 32);
    EXPECT_EQ(error_string(), "usb in request error");
}

TEST_F(Settings, NullHandleAndMissingBuffer) {
    EXPECT_EQ(zv_out_request(nullptr, 0x21, 0, 0, nullptr, 0, 1000), 50);
    EXPECT_EQ(zv_in_request(nullptr, 0x30, 0, 0, nullptr, 0, 1000), 50);
    EXPECT_EQ(zv_in_request(dev, 0x30, 0, 0, nullptr, 72, 1000), 48);
    EXPECT_TRUE(requests_of(*det).empty());
}

TEST_F(Settings, FeatureSettersAndReads) {
    EXPECT_EQ(zv_set_highgain(dev, true), 0);
    EXPECT_EQ(zv_set_antialias(dev, true), 0);
    EXPECT_EQ(zv_set_powerdown(dev, true), 0);
    EXPECT_EQ(zv_set_adcclock(dev, false), 0);
    std::vector<Request> expected = {{false, 0xCC, 1, 0, {}},
                                     {false, 0xCC, 1, 1, {}},
                                     {false, 0xCC, 1, 2, {}},
                                     {false, 0xCC, 0, 3, {}}};
    EXPECT_EQ(requests_of(*det), expected);
    EXPECT_EQ(det->features(), (zvsim::FeatureStates{1, 1, 1, 0}));
    EXPECT_EQ(zv_read_feature(dev, ZV_FEATURE_HIGHGAIN), 1);
    EXPECT_EQ(zv_read_feature(dev, ZV_FEATURE_ADCCLOCK), 0);
    EXPECT_EQ(zv_set_highgain(dev, false), 0);
    EXPECT_EQ(zv_read_feature(dev, ZV_FEATURE_HIGHGAIN), 0);
}

TEST_F(Settings, FeatureReadFailures) {
    det->respond(0xCD, {0x80});
    EXPECT_EQ(zv_read_feature(dev, ZV_FEATURE_ANTIALIAS), -2);
    EXPECT_EQ(zv_get_error(), 48);
    EXPECT_EQ(error_string(), "requested feature invalid");
    det->fail_request(0xCD);
    EXPECT_EQ(zv_read_feature(dev, ZV_FEATURE_ANTIALIAS), -1);
    EXPECT_EQ(error_string(), "usb in request error");
    EXPECT_EQ(zv_read_feature(nullptr, ZV_FEATURE_ANTIALIAS), -1);
    EXPECT_EQ(zv_get_error(), 50);
    // The firmware answers an unknown feature with a negative byte.
    EXPECT_EQ(zv_read_feature(dev, ZV_FEATURE_t(9)), -2);
}

TEST_F(Settings, TestPatternsWriteTheirRegisterAndCommit) {
    zv_test_checkerboard(dev);
    zv_test_pn9(dev);
    zv_test_normal(dev);
    std::vector<Request> expected = {{false, 0xC0, 4, 13, {}}, {false, 0xC0, 1, 255, {}},
                                     {false, 0xC0, 6, 13, {}}, {false, 0xC0, 1, 255, {}},
                                     {false, 0xC0, 0, 13, {}}, {false, 0xC0, 1, 255, {}}};
    EXPECT_EQ(requests_of(*det), expected);
    // The device says nothing for them: a failing write goes unreported.
    det->fail_request(0xC0, zvsim::RequestFaults::kUntilCleared);
    zv_test_pn9(nullptr);
    EXPECT_EQ(zv_get_error(), 50);
}

TEST_F(Settings, UserPatternRegisters) {
    EXPECT_EQ(zv_test_user(dev, 0x3FFF), 0);
    std::vector<Request> expected = {{false, 0xC0, 0xFC, 25, {}}, {false, 0xC0, 0xFF, 26, {}},
                                     {false, 0xC0, 0xFC, 27, {}}, {false, 0xC0, 0xFF, 28, {}},
                                     {false, 0xC0, 8, 13, {}},    {false, 0xC0, 1, 255, {}}};
    EXPECT_EQ(requests_of(*det), expected);
    det->clear_requests();
    // 0x1041: bits 5-0 = 1 (data 4), bits 13-6 = 0x41.
    EXPECT_EQ(zv_test_user(dev, 0x1041), 0);
    std::vector<Request> got = requests_of(*det);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].value, 4);
    EXPECT_EQ(got[1].value, 0x41);
    // Only the status of the last write counts.
    det->fail_request(0xC0);
    EXPECT_EQ(zv_test_user(dev, 1), 0);
    det->fail_request(0xC0, 6);
    EXPECT_EQ(zv_test_user(dev, 1), 32);
}

TEST_F(Settings, ResetSendsTheResetRequest) {
    zv_set_highgain(dev, true);
    det->clear_requests();
    EXPECT_EQ(zv_reset(dev), 0);
    EXPECT_EQ(requests_of(*det), (std::vector<Request>{{false, 0x21, 0, 0, {}}}));
    EXPECT_EQ(det->features()[0], 0);
    EXPECT_EQ(zv_reset(nullptr), 50);
}

} // namespace
