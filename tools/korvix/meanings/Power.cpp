// System Power Supply (type 39).
#include "Meaning.h"

namespace {

const Name kCapacitySpecial[] = {{0x8000, "Unknown"}};

// Bits 13:10 the type, 9:7 the status, 6:3 the input voltage range
// switching; bits 2:0 flags.
const Name kSupplyType[] = {
    {1, "Other"},   {2, "Unknown"}, {3, "Linear"},    {4, "Switching"},
    {5, "Battery"}, {6, "UPS"},     {7, "Converter"}, {8, "Regulator"},
};
const Name kSupplyStatus[] = {{1, "Other"}, {2, "Unknown"}, {3, "OK"}, {4, "Non-critical"}, {5, "Critical"}};
const Name kRangeSwitching[] = {
    {1, "Other"}, {2, "Unknown"}, {3, "Manual"}, {4, "Auto-switch"}, {5, "Wide range"}, {6, "Not applicable"},
};
const Name kSupplyFlags[] = {{0, "Hot-replaceable"}, {1, "Present"}, {2, "Unplugged from the wall"}};

Meaning Characteristics(uint64_t value) {
    const unsigned bits = static_cast<unsigned>(value);
    Meaning m = BitsOf(kSupplyFlags, bits & 0x07);
    const char* type = Names(kSupplyType).Find((bits >> 10) & 0x0F);
    const char* status = Names(kSupplyStatus).Find((bits >> 7) & 0x07);
    const char* range = Names(kRangeSwitching).Find((bits >> 3) & 0x0F);
    if (type != nullptr) m.items.push_back(std::string("Type: ") + type);
    if (status != nullptr) m.items.push_back(std::string("Status: ") + status);
    if (range != nullptr) m.items.push_back(std::string("Input voltage range switching: ") + range);
    return m;
}

const Name kHandleSpecial[] = {{0xFFFF, "Not Provided"}};

const FieldMeaning kFields[] = {
    Quantity(39, "MaxPowerCapacity", kCapacitySpecial, "W"), Custom(39, "Characteristics", Characteristics),
    Enum(39, "InputVoltageProbeHandle", kHandleSpecial),     Enum(39, "CoolingDeviceHandle", kHandleSpecial),
    Enum(39, "InputCurrentProbeHandle", kHandleSpecial),
};

} // namespace

const FieldMeanings kPowerMeanings{kFields};
