// The catalog test module: classes that tell what a scan lists. Every class is a plain stereo
// effect, so every listed id also loads.
#include "simple_effect.h"

#include <pluginterfaces/vst/ivsteditcontroller.h>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

struct Entry {
    TUID id;
    char const* category;
    char const* name;
    char const* subCategories;
    char const* vendor;
};

// In factory order. Listed: "Plain Effect", "Lower Case Instrument", "No Vendor", both "Twin" classes.
Entry const entries[] = {
    {{0x0A, char(0xFF), 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}, kVstAudioEffectClass, "Plain Effect", "",
     "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, kVstComponentControllerClass, "Controller Class",
     "Fx", "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3}, kVstAudioEffectClass, "First Instrument",
     "Instrument|Fx", "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4}, kVstAudioEffectClass, "Middle Instrument",
     "Fx|Instrument|Delay", "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}, kVstAudioEffectClass, "Last Instrument",
     "Fx|Instrument", "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6}, kVstAudioEffectClass, "Only Instrument", "Instrument",
     "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}, kVstAudioEffectClass, "Lower Case Instrument",
     "Fx|instrument", "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8}, "audio module class", "Lower Case Category", "Fx",
     "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}, kVstAudioEffectClass, "No Vendor", "Fx", nullptr},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10}, kVstAudioEffectClass, "Twin A", "Fx", "Catalog Vendor"},
    {{'C', 'A', 'T', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10}, kVstAudioEffectClass, "Twin B", "Fx", "Catalog Vendor"},
};

FUnknown* createEffect(void*)
{
    return static_cast<IAudioProcessor*>(new SimpleEffect);
}

}  // namespace

extern "C" SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
    if (gPluginFactory) {
        gPluginFactory->addRef();
        return gPluginFactory;
    }
    static PFactoryInfo const info("rackhost catalog", "", "", PFactoryInfo::kNoFlags);
    gPluginFactory = new CPluginFactory(info);
    for (Entry const& entry : entries) {
        PClassInfo2 const classInfo(entry.id, PClassInfo::kManyInstances, entry.category, entry.name, 0,
                                    entry.subCategories, entry.vendor, "1.0", kVstVersionString);
        gPluginFactory->registerClass(&classInfo, createEffect);
    }
    return gPluginFactory;
}
