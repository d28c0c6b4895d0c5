#include "usb/descriptor_fault.h"

#include <cstdio>

namespace zvusb {

namespace {

struct FaultText {
    DescriptorFault fault;
    const char *title;
    const char *text;
};

constexpr FaultText kFaultTexts[] = {
    {DescriptorFault::kBos, "Wrong BOS Descriptor", "Please correct firmware BOS descriptor table"},
    {DescriptorFault::kConfiguration, "Wrong Device Configuration",
     "Please correct firmware descriptor table"},
};

const FaultText &entry(DescriptorFault fault) {
    for (const FaultText &t : kFaultTexts)
        if (t.fault == fault) return t;
    return kFaultTexts[1];
}

} // namespace

const char *descriptor_fault_title(DescriptorFault fault) {
    return entry(fault).title;
}

const char *descriptor_fault_text(DescriptorFault fault) {
    return entry(fault).text;
}

void report_descriptor_fault(DescriptorFault fault) {
    std::fprintf(stderr, "%s: %s\n", descriptor_fault_title(fault), descriptor_fault_text(fault));
    std::fflush(stderr);
}

} // namespace zvusb
