// Port commands, with the adjustments firmware up to 1.0.1 receives, and port reads.
#include <vector>

#include "sim_fixture.h"

namespace {

constexpr uint8_t kInput = 0, kDrive = 1, kSquare = 4, kPulse = 5;

class Ports : public SimTest {
  protected:
    zv_device *open_with_firmware(std::array<uint8_t, 3> firmware) {
        det = attach("HLM25-S00001IC", firmware);
        return open_clean(det);
    }
    Request command(int port, uint8_t mode, uint8_t level, uint32_t period, uint32_t threshold,
                    int index = 0) {
        return {false, 0xC8, port, index, port_record(mode, level, period, threshold)};
    }
    std::shared_ptr<zvsim::SimulatedDetector> det;
};

TEST_F(Ports, DriveSendsTheLevel) {
    zv_device *dev = open_with_firmware({1, 0, 2});
    EXPECT_EQ(zv_port_drive(dev, ZV_LEDG, 1), 0);
    EXPECT_EQ(requests_of(*det), (std::vector<Request>{command(5, kDrive, 1, 0, 0)}));
    EXPECT_EQ(det->ports()[5].mode, kDrive);
    EXPECT_EQ(det->ports()[5].level, 1);
}

TEST_F(Ports, SquareWaveOnCurrentFirmwareIsSentUnchanged) {
    zv_device *dev = open_with_firmware({1, 0, 2});
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_A, 1, 100), 0);
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_A, 100, 100), 0);
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_A, 0, 0), 0);
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_B, 0x12345678, 0x9ABCDEF0), 0);
    std::vector<Request> expected = {command(0, kSquare, 0, 100, 1),
                                     command(0, kSquare, 0, 100, 100), command(0, kSquare, 0, 0, 0),
                                     command(1, kSquare, 0, 0x9ABCDEF0, 0x12345678)};
    EXPECT_EQ(requests_of(*det), expected);
}

TEST_F(Ports, SquareWaveOnOldFirmwareBecomesAConstantLevelAtTheExtremes) {
    zv_device *dev = open_with_firmware({1, 0, 1});
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_A, 1, 100), 0);   // never really high: low
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_A, 100, 100), 0); // never low: high
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_A, 0, 0), 0);     // both: high wins
    EXPECT_EQ(zv_port_pwm(dev, ZV_PORT_A, 2, 100), 0);   // a real square wave
    std::vector<Request> expected = {command(0, kDrive, 0, 0, 0), command(0, kDrive, 1, 0, 0),
                                     command(0, kDrive, 1, 0, 0), command(0, kSquare, 0, 100, 2)};
    EXPECT_EQ(requests_of(*det), expected);
}

TEST_F(Ports, PulseOnOldFirmwarePreparesThePortFirst) {
    zv_device *dev = open_with_firmware({1, 0, 1});
    EXPECT_EQ(zv_port_pulse(dev, ZV_PORT_S, 40), 0);
    std::vector<Request> got = requests_of(*det);
    ASSERT_EQ(got.size(), 4u);
    // Status read of the port's record (index = mode byte of a zeroed record).
    EXPECT_TRUE(got[0].in);
    EXPECT_EQ(got[0].request, 0xC8);
    EXPECT_EQ(got[0].value, 2);
    EXPECT_EQ(got[0].index, 0);
    EXPECT_EQ(got[1], command(2, kSquare, 0, 0xFFFFFFFF, 40));
    EXPECT_EQ(got[2], command(2, kDrive, 0, 0, 0));
    EXPECT_EQ(got[3], command(2, kPulse, 0, 0, 40, 5));

    // Already pulsing: only the status read and the pulse.
    det->clear_requests();
    EXPECT_EQ(zv_port_pulse(dev, ZV_PORT_S, 41), 0);
    got = requests_of(*det);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].in);
    EXPECT_EQ(got[1], command(2, kPulse, 0, 0, 41, 5));
}

TEST_F(Ports, PulseOnCurrentFirmwareIsOneCommand) {
    zv_device *dev = open_with_firmware({1, 0, 2});
    EXPECT_EQ(zv_port_pulse(dev, ZV_PORT_T, 7), 0);
    EXPECT_EQ(requests_of(*det), (std::vector<Request>{command(3, kPulse, 0, 0, 7, 5)}));
}

TEST_F(Ports, ReadSetsInputModeThenReadsTheLevel) {
    zv_device *dev = open_with_firmware({1, 0, 2});
    det->set_port_input(ZV_PORT_B, 1);
    EXPECT_EQ(zv_port_read(dev, ZV_PORT_B), 1);
    std::vector<Request> got = requests_of(*det);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], command(1, kInput, 0, 0, 0));
    EXPECT_EQ(got[1], (Request{true, 0xC9, 1, 0, {1}}));
    det->set_port_input(ZV_PORT_B, 0);
    EXPECT_EQ(zv_port_read(dev, ZV_PORT_B), 0);
    EXPECT_EQ(zv_get_error(), 0);
}

TEST_F(Ports, ReadFailures) {
    zv_device *dev = open_with_firmware({1, 0, 2});
    det->respond(0xC9, {0xFE});
    EXPECT_EQ(zv_port_read(dev, ZV_PORT_A), 54);
    EXPECT_EQ(error_string(), "error occured in firmware on the device");
    det->fail_request(0xC9);
    EXPECT_EQ(zv_port_read(dev, ZV_PORT_A), -1);
    EXPECT_EQ(error_string(), "usb in request error");
    det->fail_request(0xC8);
    EXPECT_EQ(zv_port_read(dev, ZV_PORT_A), 32);
    EXPECT_EQ(error_string(), "usb out request error");
    EXPECT_EQ(zv_port_read(nullptr, ZV_PORT_A), 50);
}

TEST_F(Ports, PortOutOfRangeSendsNothing) {
    zv_device *dev = open_with_firmware({1, 0, 1});
    uint8_t record[10] = {};
    auto seven = ZV_PORT_t(7);
    EXPECT_EQ(zv_port_drive(dev, seven, 1), 48);
    EXPECT_EQ(error_string(), "invalid port");
    EXPECT_EQ(zv_port_pwm(dev, seven, 1, 2), 48);
    EXPECT_EQ(zv_port_pulse(dev, seven, 1), 48);
    EXPECT_EQ(zv_port_read(dev, seven), 48);
    EXPECT_EQ(zv_port_status(dev, seven, record), 48);
    EXPECT_EQ(zv_port_drive(dev, ZV_PORT_t(-1), 1), 48);
    EXPECT_EQ(error_string(), "invalid port");
    EXPECT_TRUE(requests_of(*det).empty());
    EXPECT_EQ(zv_port_drive(nullptr, ZV_PORT_A, 1), 50);
}

TEST_F(Ports, StatusReadsTheDevicesRecord) {
    zv_device *dev = open_with_firmware({1, 0, 2});
    ASSERT_EQ(zv_port_pwm(dev, ZV_LEDR, 3, 9), 0);
    uint8_t record[10] = {};
    record[0] = 4;
    EXPECT_EQ(zv_port_status(dev, ZV_LEDR, record), 0);
    EXPECT_EQ(std::vector<uint8_t>(record, record + 10), port_record(kSquare, 0, 9, 3));
    EXPECT_EQ(requests_of(*det).back().index, 4);
}

} // namespace
