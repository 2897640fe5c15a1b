// IcuLibrary.cpp: opening ICU's libraries and finding its functions.
#include "IcuLibrary.h"

#include "Runtime.h"

#include <dlfcn.h>
#include <unicode/uvernum.h>

#include <string>
#include <type_traits>

// A name as the preprocessor leaves it: ICU's headers rename every function
// to its versioned symbol (u_charType to u_charType_72), so the string of a
// function's name is the symbol to look for.
#define VZ_ICU_TEXT(x) #x
#define VZ_ICU_NAME(x) VZ_ICU_TEXT(x)

namespace vz {

namespace {

// The internationalization library brings the common one it needs; a
// lookup through its handle finds the functions of both.
constexpr const char *kLibrary = "libicui18n.so." VZ_ICU_NAME(U_ICU_VERSION_MAJOR_NUM);

IcuLibrary load() noexcept
{
    IcuLibrary library{};
    void      *handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why     = dlerror();
        std::string message = std::string("cannot load ICU (") + kLibrary + ")";
        if (why != nullptr) message += std::string(": ") + why;
        fatal(message.c_str());
    }
    auto resolve = [&](auto &function, const char *name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        if (function == nullptr) fatal((std::string("ICU has no function ") + name).c_str());
    };
#define VZ_ICU_RESOLVE(field, function) resolve(library.field, VZ_ICU_NAME(function))
    VZ_ICU_RESOLVE(charDigitValue, u_charDigitValue);
    VZ_ICU_RESOLVE(charType, u_charType);
    VZ_ICU_RESOLVE(getIntPropertyValue, u_getIntPropertyValue);
    VZ_ICU_RESOLVE(isUWhiteSpace, u_isUWhiteSpace);
    VZ_ICU_RESOLVE(strFoldCase, u_strFoldCase);
    VZ_ICU_RESOLVE(strToLower, u_strToLower);
    VZ_ICU_RESOLVE(strToTitle, u_strToTitle);
    VZ_ICU_RESOLVE(strToUpper, u_strToUpper);
    VZ_ICU_RESOLVE(ucnvClose, ucnv_close);
    VZ_ICU_RESOLVE(ucnvOpen, ucnv_open);
    VZ_ICU_RESOLVE(ucnvToUChars, ucnv_toUChars);
    VZ_ICU_RESOLVE(ucolClose, ucol_close);
    VZ_ICU_RESOLVE(ucolGetSortKey, ucol_getSortKey);
    VZ_ICU_RESOLVE(ucolOpen, ucol_open);
    VZ_ICU_RESOLVE(ucolSetAttribute, ucol_setAttribute);
    VZ_ICU_RESOLVE(ucolStrcoll, ucol_strcoll);
    VZ_ICU_RESOLVE(ulocCanonicalize, uloc_canonicalize);
    VZ_ICU_RESOLVE(unorm2GetNFCInstance, unorm2_getNFCInstance);
    VZ_ICU_RESOLVE(unorm2GetNFDInstance, unorm2_getNFDInstance);
    VZ_ICU_RESOLVE(unorm2GetNFKCInstance, unorm2_getNFKCInstance);
    VZ_ICU_RESOLVE(unorm2GetNFKDInstance, unorm2_getNFKDInstance);
    VZ_ICU_RESOLVE(unorm2GetRawDecomposition, unorm2_getRawDecomposition);
    VZ_ICU_RESOLVE(unorm2HasBoundaryBefore, unorm2_hasBoundaryBefore);
    VZ_ICU_RESOLVE(unorm2IsNormalized, unorm2_isNormalized);
    VZ_ICU_RESOLVE(unorm2Normalize, unorm2_normalize);
#undef VZ_ICU_RESOLVE
    return library;
}

} // namespace

const IcuLibrary &icuLibrary() noexcept
{
    static const IcuLibrary library = load();
    return library;
}

} // namespace vz
