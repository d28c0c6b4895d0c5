// The report shown when a device's descriptor tables are malformed and its open is refused.
// There is no message box on this platform: the title and text go to standard error.
#pragma once

namespace zvusb {

enum class DescriptorFault {
    kBos,           // the BOS descriptor does not add up
    kConfiguration, // a device or configuration descriptor table is malformed
};

const char *descriptor_fault_title(DescriptorFault fault);
const char *descriptor_fault_text(DescriptorFault fault);

// Writes "title: text" as one line to standard error.
void report_descriptor_fault(DescriptorFault fault);

} // namespace zvusb
