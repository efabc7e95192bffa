// The window layer of this system: it has no backend, so no editor window can be made.
#include "plugin/window.h"

bool canOpenWindows()
{
    return false;
}

std::unique_ptr<Window> openWindow(std::string const&, int, int, bool)
{
    return nullptr;
}
