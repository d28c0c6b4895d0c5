// The header's attributes in the file: writing every row of kAttributes from a Header, and
// reading a group's attributes, whatever they are, as plain values (for callers that list them)
// and back into a Header (for the reader).
#pragma once

#include <string>
#include <vector>

#include "recorder/hdf5_support.h"
#include "recorder/recording_layout.h"

namespace zv::recording {

// Writes the header as attributes of loc; false on an HDF5 failure (hdf5_cause() tells).
bool write_header(hid_t loc, const Header &header);
// Writes (or rewrites) one scalar attribute: a double, or text.
bool write_real(hid_t loc, const char *name, double value);
bool write_text(hid_t loc, const char *name, const char *text);

// One attribute as the file holds it: text, or numbers in a rows x columns array.
struct AttributeValue {
    std::string name;
    bool is_text = false;
    std::string text;
    std::vector<double> values;
    uint32_t rows = 1;
    uint32_t columns = 1;
    bool integer = false;
};

// Every attribute of loc that reads as text or numbers (others are left out); false on an HDF5
// failure.
bool read_attributes(hid_t loc, std::vector<AttributeValue> &out);

// Fills a header from attributes; returns the name of the first attribute of kAttributes that is
// missing or of the wrong type or shape, or an empty string when all are there.
std::string header_from(const std::vector<AttributeValue> &attributes, Header &header);

} // namespace zv::recording
