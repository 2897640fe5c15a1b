// Languages.h: the order in which a bundle's localisations are tried.
//
// First the user's language, from the first of LC_ALL, LC_MESSAGES and LANG
// (the order in which POSIX lets them override each other) that is set and
// not empty: its code set and modifier dropped ("de_DE.UTF-8@euro" gives
// de_DE), then its language alone (de). "C" and "POSIX" name no language. A
// value that cannot stand as a folder name is passed over. Then en, English
// and Base. No name appears twice.
#ifndef VZ_PLATFORM_LANGUAGES_H
#define VZ_PLATFORM_LANGUAGES_H

#include <string>
#include <vector>

namespace vz {

// May throw std::bad_alloc.
std::vector<std::string> localizationOrder();

} // namespace vz

#endif
