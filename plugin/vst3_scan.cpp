// Listing the effect classes of one VST 3 module; nothing here searches folders for modules.
#include "plugin/vst3.h"

#include "plugin/module.h"

#include <pluginterfaces/vst/ivstaudioprocessor.h>

std::vector<PluginInfo> scanVst3(std::string const& path, std::string& error)
{
    std::vector<PluginInfo> found;
    auto module = openModule(path, error);
    if (!module)
        return found;
    auto const& factory = module->getFactory();
    std::string const factoryVendor = factory.info().vendor();
    for (auto const& info : factory.classInfos()) {
        if (info.category() != kVstAudioEffectClass)
            continue;
        if (info.subCategoriesString().find("Instrument") != std::string::npos)
            continue;  // instruments need notes, which this host never sends
        found.push_back({"vst3", path, uidText(info.ID()), info.name(),
                         info.vendor().empty() ? factoryVendor : info.vendor()});
    }
    return found;
}
