// A window layer for the editor tests, linked in place of the product's: its windows only note
// what is asked of them in the recorder's log, and it can refuse, like a system without a display.
#pragma once

#include "plugin/window.h"

#include <string>

struct TestWindows {
    bool refuse = false;
    Window* open = nullptr;  // the newest window still alive
};

TestWindows& testWindows();
