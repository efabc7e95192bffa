// The window layer that editor views are embedded into ("X11EmbedWindowID").
// All of it runs on the main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

class Window {
public:
    virtual ~Window() = default;
    // What the editor view's attached() receives with the platform type "X11EmbedWindowID".
    virtual void* nativeHandle() = 0;
    virtual void resize(int width, int height) = 0;
    virtual void show() = 0;

    // Called by the layer when the user closes the window; the callee may destroy the window.
    std::function<void()> onClose;
    // Called by the layer when the user resizes the window; the callee may change the size.
    std::function<void(int& width, int& height)> onResize;
};

// Whether this system can make windows at all.
bool canOpenWindows();
// A native window of the given client size, not yet shown; empty when no window can be made.
std::unique_ptr<Window> openWindow(std::string const& title, int width, int height, bool resizable);
