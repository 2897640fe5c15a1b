// ModemScriptsCommand.cpp: modem-scripts, the installed modem scripts in the
// catalogue's order, the default one (which a new modem service gets)
// marked.
#include "Machine.h"
#include "Output.h"

#include "VaviVAZCCLScanner.h"

#include <CLI/CLI.hpp>

namespace netsetup {

ModemScripts ReadModemScripts()
{
    Ref<CFArrayRef> array;
    CFIndex         index = 0;
    Check(MoreSCCreateCCLArray(array.put(), &index), "cannot list the modem scripts");
    ModemScripts scripts;
    for (CFIndex i = 0; i < CFArrayGetCount(array.get()); i++)
        scripts.names.push_back(
            Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(array.get(), i))));
    if (index >= 0 && static_cast<size_t>(index) < scripts.names.size())
        scripts.defaultIndex = static_cast<size_t>(index);
    return scripts;
}

namespace {

void ListModemScripts(Context &context)
{
    ModemScripts scripts = ReadModemScripts();
    if (context.json) {
        Json list = Json::array();
        for (size_t i = 0; i < scripts.names.size(); i++)
            list.push_back({{"name", scripts.names[i]}, {"default", scripts.defaultIndex == i}});
        Json document;
        document["scripts"] = std::move(list);
        Emit(context, document);
        return;
    }
    // The first column marks the default with "*".
    Table table({"", "NAME"});
    for (size_t i = 0; i < scripts.names.size(); i++)
        table.Add({scripts.defaultIndex == i ? "*" : "", vztool::printable(scripts.names[i])});
    context.out += table.Text();
}

} // namespace

void AddModemScriptsCommand(CLI::App &app, Context &context)
{
    CLI::App *scripts = app.add_subcommand(
        "modem-scripts", "list the installed modem scripts; \"*\" marks the default one");
    Bind(scripts, context, ListModemScripts);
}

} // namespace netsetup
