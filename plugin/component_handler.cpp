// Turns an edit controller's reports into the two callables of its plug-in. Nothing is restarted
// and no editor is opened on request; a finished edit, a restart or dirty state only count as a change.
#include "plugin/component_handler.h"

using namespace Steinberg;

tresult PLUGIN_API ComponentHandler::beginEdit(Vst::ParamID)
{
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(Vst::ParamID id, Vst::ParamValue value)
{
    if (onEdit)
        onEdit(id, value);
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(Vst::ParamID)
{
    changed();
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent(int32)
{
    changed();
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::setDirty(TBool state)
{
    if (state)
        changed();
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::requestOpenEditor(FIDString)
{
    return kResultFalse;
}

tresult PLUGIN_API ComponentHandler::startGroupEdit()
{
    return kResultOk;
}

tresult PLUGIN_API ComponentHandler::finishGroupEdit()
{
    changed();
    return kResultOk;
}

void ComponentHandler::changed() const
{
    if (onChanged)
        onChanged();
}
