// "Bundled Parts": a stereo effect whose output is its input, from a module that needs a library shipped
// beside it in its bundle, which needs another one there in turn, as modules built on a vendor's shared
// code do.
#include "simple_effect.h"

extern "C" int bundledPart();

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

class BundledParts : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new BundledParts); }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        return bundledPart() == 2 ? SimpleEffect::initialize(context) : kResultFalse;
    }
};

}  // namespace

BEGIN_FACTORY_DEF("rackhost tests", "", "")
DEF_CLASS2(INLINE_UID(0x42554E44, 0x4C454450, 0x00000000, 0x00000001), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Bundled Parts", 0, "Fx", "1.0", kVstVersionString, BundledParts::create)
END_FACTORY
