// What the characters of a serial number say about the detector model, and the product-name
// formats built from them.
#pragma once

namespace zv {
namespace model {

// Character positions within the serial text.
constexpr int kBalancedPosition = 6;
constexpr int kPhotodiodePosition = 12;
constexpr int kConnectorPosition = 13;

constexpr char kBalancedMarker = 'D';

struct Connector {
    char code;
    const char *label;
};
constexpr Connector kConnectors[] = {{'C', "FC"}, {'F', "FS"}, {'L', "FL"}};
constexpr const char *kUnknownConnector = "??";

// The photodiode part of the name is its peak wavelength (photodiodes.h).
constexpr const char *kWavelengthFormat = "%dnm";
constexpr const char *kUnknownWavelength = "???nm";

// Filled with the wavelength and connector labels.
constexpr const char *kBalancedProductFormat = "HLM25 Balanced %s %s";
constexpr const char *kProductFormat = "HLM25 %s %s";

} // namespace model
} // namespace zv
