// HFSNames.cpp: names to HFSUniStr255 records, through ICU's strict UTF-8
// conversion.
#include "HFSNames.h"

#include <cstring>
#include <unicode/ustring.h>

namespace vz {

bool hfsNameFromBytes(std::string_view name, HFSUniStr255 *record) noexcept
{
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

} // namespace vz
