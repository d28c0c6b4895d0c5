// The device's part of a recording's description (zv_recording_describe): identity, gain, the
// six stored calibration pairs and the automatic calibration at a wavelength, as a raw recording
// of the detector's own samples would record them.
#include <cstdio>
#include <cstring>

#include "libzv/c_boundary.h"
#include "libzv/device_record.h"
#include "libzv/errors.h"
#include "libzv/identity.h"

extern "C" {

int zv_recording_describe(zv_device *dev, double wavelength, zv_recording_info *info) {
    return zv::c_status([&] {
        if (!dev) return zv::set_error(zv::Error::invalid_device);
        if (!info) return zv::set_error(zv::Error::invalid_parameters);
        zv_recording_info d{};
        std::snprintf(d.serial, sizeof d.serial, "%s", dev->serial);
        std::snprintf(d.product, sizeof d.product, "%s", dev->product);
        std::snprintf(d.firmware, sizeof d.firmware, "%u.%u.%u", dev->identity.fw_major,
                      dev->identity.fw_minor, dev->identity.fw_patch);
        d.samplerate = d.device_samplerate = zv_get_samplerate(dev);
        d.adc_bits = zv_get_adcbits(dev);
        for (int i = 0; i < ZV_RECORDING_PAIRS; ++i)
            for (int k = 0; k < 2; ++k)
                d.calibrations[i][k] = dev->identity.calibration[i][k];

        const int high_gain = zv_read_feature(dev, ZV_FEATURE_HIGHGAIN);
        if (high_gain < 0) return zv_get_error();
        d.high_gain = high_gain > 0;
        // The automatic calibration: on a balanced unit always pair 0, else the gain's pair.
        const bool balanced = zv::is_balanced(*dev);
        d.calibration_follows_gain = !balanced;
        d.calibration_pair = balanced || high_gain ? 0 : 1;
        if (wavelength == 0) {
            const int peak = zv_get_peak_responsivity(dev);
            if (peak < 0) return zv_get_error();
            wavelength = peak;
        }
        const zv_calibration pair =
            zv_get_rel_calibration(dev, ZV_CALIBRATION_DIGITAL_AUTO, wavelength);
        if (pair.gain == 0 && pair.offset == 0) return zv_get_error();
        d.wavelength = wavelength;
        d.responsivity = double(float(zv_get_rel_responsivity(dev, wavelength)));
        d.calibration[0] = pair.gain;
        d.calibration[1] = pair.offset;
        d.units = -6;
        std::snprintf(d.filter, sizeof d.filter, "none");
        d.downsampling = d.decimation = 1;
        d.port_bits_masked = 1;
        *info = d;
        zv::set_error(zv::Error::success);
        return 0;
    });
}

} // extern "C"
