// HFSNames.cpp: names to HFSUniStr255 records, through the strict UTF-8
// decoding of UTF.h (ASCII names are widened in place).
#include "HFSNames.h"

#include "UTF.h"

namespace vz {

namespace {

// ASCII, the common case, is one unit per byte, as ICU would give.
bool isShortASCII(std::string_view name) noexcept
{
    if (name.size() > 255) return false;
    for (char byte : name)
        if (static_cast<unsigned char>(byte) >= 0x80) return false;
    return true;
}

// The units of a record, filled in place; overflow past its 255 units.
struct RecordUnits {
    HFSUniStr255 *record;
    size_t        length   = 0;
    bool          overflow = false;

    void push_back(char16_t unit) noexcept
    {
        if (length == 255) {
            overflow = true;
            return;
        }
        record->unicode[length++] = unit;
    }
};

} // namespace

bool hfsNameFromBytes(std::string_view name, HFSUniStr255 *record) noexcept
{
    if (isShortASCII(name)) {
        for (size_t i = 0; i < name.size(); i++)
            record->unicode[i] = static_cast<UniChar>(name[i]);
        record->length = static_cast<UInt16>(name.size());
        return true;
    }
    // Fails on malformed UTF-8 and on a result longer than the record.
    RecordUnits units{record};
    if (!appendUTF16FromUTF8(units, reinterpret_cast<const uint8_t *>(name.data()), name.size()) ||
        units.overflow)
        return false;
    record->length = static_cast<UInt16>(units.length);
    return true;
}

bool hasRecordForm(std::string_view name) noexcept
{
    HFSUniStr255 record;
    return isShortASCII(name) || hfsNameFromBytes(name, &record);
}

} // namespace vz
