// Hands a view's resize request to the plug-in that owns the frame.
#include "plugin/plug_frame.h"

using namespace Steinberg;

tresult PLUGIN_API PlugFrame::resizeView(IPlugView* view, ViewRect* newSize)
{
    if (!view || !newSize)
        return kInvalidArgument;
    if (onResizeView)
        onResizeView(view, newSize);
    return kResultOk;
}
