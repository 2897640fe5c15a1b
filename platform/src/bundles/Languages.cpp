// Languages.cpp: the user's language from the environment, and the
// localisations after it.
#include "Languages.h"

#include "UnderRoot.h"

#include <algorithm>
#include <cstdlib>

namespace vz {

std::vector<std::string> localizationOrder()
{
    std::vector<std::string> order;
    auto                     add = [&order](const std::string &name) {
        if (isSinglePathComponent(name) &&
            std::find(order.begin(), order.end(), name) == order.end())
            order.push_back(name);
    };

    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        std::string locale = value;
        locale             = locale.substr(0, locale.find_first_of(".@"));
        if (!locale.empty() && locale != "C" && locale != "POSIX") {
            add(locale);
            add(locale.substr(0, locale.find('_')));
        }
        break;
    }
    for (const char *fallback : {"en", "English", "Base"})
        add(fallback);
    return order;
}

} // namespace vz
