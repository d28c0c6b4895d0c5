#include "identity.h"

#include <cstdio>
#include <cstring>

#include "errors.h"
#include "model_codes.h"
#include "photodiodes.h"
#include "request_codes.h"

namespace zv {
namespace {

constexpr size_t kSerialLength = sizeof(zv_identity::serial);
// Serial shown for the unprogrammed detector, which has no identity block.
constexpr const char *kUnprogrammedSerial = "unknown";

// Connection speed codes reported by zv_get_usb_speed (the module's usb_speed_lookup keys).
constexpr int kSpeedUnknown = 0;
constexpr int kSpeedHigh = 3;
constexpr int kSpeedSuper = 4;
static_assert(sizeof(zv_device::serial) == kSerialLength + 1, "serial copy has a terminator");

// Copies at most the 15 serial bytes and terminates the copy.
void copy_serial(char (&to)[kSerialLength + 1], const char (&from)[kSerialLength]) {
    size_t n = strnlen(from, kSerialLength);
    std::memset(to, 0, sizeof(to));
    std::memcpy(to, from, n);
}

const char *connector_label(char code) {
    for (const model::Connector &c : model::kConnectors)
        if (c.code == code) return c.label;
    return model::kUnknownConnector;
}

void compose_product_name(zv_device &dev) {
    char wavelength[16];
    const Photodiode *photodiode = find_photodiode(serial_char(dev, model::kPhotodiodePosition));
    if (photodiode != nullptr)
        std::snprintf(wavelength, sizeof(wavelength), model::kWavelengthFormat,
                      photodiode->peak_nm);
    else
        std::snprintf(wavelength, sizeof(wavelength), "%s", model::kUnknownWavelength);
    const char *connector = connector_label(serial_char(dev, model::kConnectorPosition));
    const char *format = is_balanced(dev) ? model::kBalancedProductFormat : model::kProductFormat;

    std::memset(dev.product, 0, sizeof(dev.product));
    std::snprintf(dev.product, sizeof(dev.product), format, wavelength, connector);
}

} // namespace

bool load_identity(zv_device &dev, bool read_from_device) {
    // Cleared first: a device that answers fewer bytes leaves zeros, never stale memory.
    std::memset(&dev.identity, 0, sizeof(dev.identity));
    if (read_from_device) {
        int status = zv_in_request(&dev, request::kReadIdentity, 0, 0,
                                   reinterpret_cast<uint8_t *>(&dev.identity), sizeof(dev.identity),
                                   kRequestTimeoutMs);
        if (status != 0) return false;
    } else {
        std::strncpy(dev.identity.serial, kUnprogrammedSerial, kSerialLength);
    }
    copy_serial(dev.serial, dev.identity.serial);
    compose_product_name(dev);
    return true;
}

zv_device_info summarize(const zv_device &dev) {
    zv_device_info info = {};
    std::memcpy(info.product, dev.product, sizeof(info.product));
    std::memcpy(info.serial, dev.serial, sizeof(info.serial));
    info.samplerate = dev.identity.samplerate;
    info.adcbits = dev.identity.adcbits;
    info.fw_major = dev.identity.fw_major;
    info.fw_minor = dev.identity.fw_minor;
    info.fw_patch = dev.identity.fw_patch;
    return info;
}

char serial_char(const zv_device &dev, int position) {
    if (position < 0 || position >= int(kSerialLength)) return '\0';
    return dev.serial[position];
}

bool is_balanced(const zv_device &dev) {
    return serial_char(dev, model::kBalancedPosition) == model::kBalancedMarker;
}

uint32_t known_samplerate(const zv_device &dev) {
    const uint32_t rate = dev.identity.samplerate;
    return rate == ZV_SAMPLERATE_NOT_SET ? 0 : rate;
}

uint32_t firmware_number(const zv_device &dev) {
    return uint32_t(dev.identity.fw_major) << 16 | uint32_t(dev.identity.fw_minor) << 8 |
           dev.identity.fw_patch;
}

} // namespace zv

extern "C" {

const char *zv_get_serial(zv_device *dev) {
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return nullptr;
    }
    return dev->serial;
}

const char *zv_get_product(zv_device *dev) {
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return nullptr;
    }
    return dev->product;
}

// The identity queries below store what is missing when the detector leaves a field unset, so
// the sentinel they return always comes with an error that says why.
uint32_t zv_get_samplerate(zv_device *dev) {
    zv::set_error(zv::Error::success);
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return ZV_SAMPLERATE_NOT_SET;
    }
    const uint32_t rate = zv::known_samplerate(*dev);
    if (rate == 0) {
        zv::set_error(zv::Error::no_samplerate);
        return ZV_SAMPLERATE_NOT_SET;
    }
    return rate;
}

uint8_t zv_get_adcbits(zv_device *dev) {
    zv::set_error(zv::Error::success);
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return ZV_ADCBITS_NOT_SET;
    }
    if (dev->identity.adcbits == ZV_ADCBITS_NOT_SET) zv::set_error(zv::Error::no_adcbits);
    return dev->identity.adcbits;
}

zv_fwversion zv_get_fwversion(zv_device *dev) {
    zv::set_error(zv::Error::success);
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return zv_fwversion{0, 0, 0};
    }
    const zv_identity &id = dev->identity;
    if (id.fw_major == ZV_FWVERSION_NOT_SET && id.fw_minor == ZV_FWVERSION_NOT_SET &&
        id.fw_patch == ZV_FWVERSION_NOT_SET)
        zv::set_error(zv::Error::no_fwversion);
    return zv_fwversion{id.fw_major, id.fw_minor, id.fw_patch};
}

int zv_get_usb_speed(zv_device *dev) {
    if (dev == nullptr) {
        zv::set_error(zv::Error::invalid_device);
        return ZV_QUERY_FAILED;
    }
    if (dev->transport->super_speed) return zv::kSpeedSuper;
    if (dev->transport->high_speed) return zv::kSpeedHigh;
    return zv::kSpeedUnknown;
}

} // extern "C"
