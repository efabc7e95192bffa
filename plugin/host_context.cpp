// The process-wide host context: the SDK's host application, made to answer which plug-in interfaces this
// host calls.
#include "plugin/host_context.h"

#include <public.sdk/source/vst/hosting/hostclasses.h>
#include <pluginterfaces/base/funknownimpl.h>
#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstpluginterfacesupport.h>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Yes for exactly the interfaces this host calls on a plug-in, so none counts on a call that never comes.
class CalledInterfaces final : public U::ImplementsNonDestroyable<U::Directly<IPlugInterfaceSupport>> {
public:
    tresult PLUGIN_API isPlugInterfaceSupported(TUID const iid) override
    {
        for (FUID const* called :
             {&IComponent::iid, &IAudioProcessor::iid, &IEditController::iid, &IConnectionPoint::iid, &IPlugView::iid})
            if (FUnknownPrivate::iidEqual(iid, called->toTUID()))
                return kResultTrue;
        return kResultFalse;
    }
};

// The SDK's host application asks its own support object for the wrong interface id, so no plug-in would
// reach one through it.
class HostContext final : public HostApplication {
public:
    tresult PLUGIN_API queryInterface(TUID const iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, IPlugInterfaceSupport::iid.toTUID()))
            return calledInterfaces.queryInterface(iid, obj);
        return HostApplication::queryInterface(iid, obj);
    }

private:
    CalledInterfaces calledInterfaces;
};

}  // namespace

HostApplication& hostApplication()
{
    static HostContext context;
    return context;
}
