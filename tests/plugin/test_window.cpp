// Windows that exist only as entries in the recorder's log; the editor tests act as the user
// through their onResize and onClose.
#include "test_window.h"

#include "plugin_fixture.h"

namespace {

class TestWindow : public Window {
public:
    ~TestWindow() override
    {
        note("window.destroyed");
        if (testWindows().open == this)
            testWindows().open = nullptr;
    }
    void* nativeHandle() override { return this; }
    void resize(int width, int height) override
    {
        note("window.resize " + std::to_string(width) + "x" + std::to_string(height));
    }
    void show() override { note("window.show"); }
};

}  // namespace

TestWindows& testWindows()
{
    static TestWindows windows;
    return windows;
}

bool canOpenWindows()
{
    return !testWindows().refuse;
}

std::unique_ptr<Window> openWindow(std::string const& title, int width, int height, bool resizable)
{
    note("window.open " + title + " " + std::to_string(width) + "x" + std::to_string(height) +
         (resizable ? " resizable" : " fixed"));
    if (testWindows().refuse)
        return nullptr;
    auto window = std::make_unique<TestWindow>();
    testWindows().open = window.get();
    return window;
}
