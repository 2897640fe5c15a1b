// HFSNames.cpp: names to HFSUniStr255 records, through ICU's strict UTF-8
// conversion (ASCII names are widened in place).
#include "HFSNames.h"

#include <cstring>
#include <unicode/ustring.h>

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

} // namespace

bool hfsNameFromBytes(std::string_view name, HFSUniStr255 *record) noexcept
{
    if (isShortASCII(name)) {
        for (size_t i = 0; i < name.size(); i++)
            record->unicode[i] = static_cast<UniChar>(name[i]);
        record->length = static_cast<UInt16>(name.size());
        return true;
    }
    UChar      units[255];
    int32_t    length = 0;
    UErrorCode status = U_ZERO_ERROR;
    // Fails on malformed UTF-8 and on a result longer than the record.
    u_strFromUTF8(units, 255, &length, name.data(), static_cast<int32_t>(name.size()), &status);
    if (U_FAILURE(status) || length > 255) return false;
    record->length = static_cast<UInt16>(length);
    std::memcpy(record->unicode, units, static_cast<size_t>(length) * sizeof(UChar));
    return true;
}

bool hasRecordForm(std::string_view name) noexcept
{
    HFSUniStr255 record;
    return isShortASCII(name) || hfsNameFromBytes(name, &record);
}

} // namespace vz
