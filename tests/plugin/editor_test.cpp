// Editor windows through a window layer that makes windows: opening, resizing from either side,
// and closing by request, by the user or with the plug-in.
#include "plugin_fixture.h"
#include "test_window.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<Plugin> openedEditor(std::string const& className)
{
    auto plugin = loadRecorder(className);
    std::string error;
    if (plugin) {
        plugin->onEdited = [] { note("host.onEdited"); };
        EXPECT_TRUE(plugin->openEditor(error)) << error;
    }
    return plugin;
}

std::string openError(Plugin& plugin)
{
    std::string error;
    EXPECT_FALSE(plugin.openEditor(error));
    EXPECT_FALSE(plugin.editorOpen());
    return error;
}

Calls const closing = {"view.removed", "view.setFrame null", "view.destroyed", "window.destroyed", "host.onEdited"};

}  // namespace

TEST(Editor, OpensTheViewInAWindowOfItsSizeAndClosesOnRequestByTheUserOrWithThePlugIn)
{
    auto plugin = openedEditor("Separate Controller");
    ASSERT_TRUE(plugin);
    EXPECT_EQ(takeCalls(), (Calls{"controller.createView editor", "view.isPlatformTypeSupported X11EmbedWindowID",
                                  "view.getSize", "view.canResize", "window.open Separate Controller 300x200 fixed",
                                  "view.setFrame set", "view.attached X11EmbedWindowID", "window.show"}));
    EXPECT_TRUE(plugin->editorOpen());
    EXPECT_EQ(recorder().attachedTo, static_cast<void*>(testWindows().open));

    std::string error;
    EXPECT_TRUE(plugin->openEditor(error));  // an open editor is only raised
    EXPECT_EQ(takeCalls(), (Calls{"window.show"}));
    plugin->closeEditor();
    EXPECT_EQ(takeCalls(), closing);
    EXPECT_FALSE(plugin->editorOpen());

    ASSERT_TRUE(plugin->openEditor(error));
    takeCalls();
    testWindows().open->onClose();
    EXPECT_EQ(takeCalls(), closing);
    EXPECT_FALSE(plugin->editorOpen());

    ASSERT_TRUE(plugin->openEditor(error));
    takeCalls();
    plugin.reset();
    Calls const calls = takeCalls();
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 5), closing);
}

TEST(Editor, ExplainsWhyNoWindowOpenedAndLetsGoOfTheView)
{
    for (std::string className : {"Single Component", "No Controller", "Foreign Editor"}) {
        auto plugin = loadRecorder(className);
        ASSERT_TRUE(plugin);
        EXPECT_EQ(openError(*plugin), className + " has no window to open here.");
        if (className == "Foreign Editor") {
            EXPECT_EQ(takeCalls().back(), "view.destroyed");  // let go at once
        }
    }

    auto refusing = loadRecorder("Editor Won't Attach");
    ASSERT_TRUE(refusing);
    EXPECT_EQ(openError(*refusing), "Editor Won't Attach's window wouldn't open.");
    Calls const calls = takeCalls();
    EXPECT_EQ(Calls(calls.end() - 3, calls.end()), (Calls{"view.attached X11EmbedWindowID", "view.destroyed",
                                                          "window.destroyed"}));

    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    testWindows().refuse = true;
    takeCalls();
    EXPECT_EQ(openError(*plugin), "Plugin windows can't be opened on this system yet.");
    testWindows().refuse = false;
    // A view may need a display to tell its size, so without windows it is asked nothing more.
    EXPECT_EQ(takeCalls(), (Calls{"controller.createView editor", "view.isPlatformTypeSupported X11EmbedWindowID",
                                  "view.destroyed"}));
}

TEST(Editor, FollowsTheViewsResizeRequestsOnly)
{
    auto plugin = openedEditor("Separate Controller");
    ASSERT_TRUE(plugin);
    Steinberg::IPlugFrame* frame = recorder().frame;
    Steinberg::IPlugView* view = recorder().attachedView;
    ASSERT_TRUE(frame && view);
    frame->release();  // more often than it was taken: the frame stays
    frame->release();
    takeCalls();

    Steinberg::ViewRect size{0, 0, 500, 300};
    EXPECT_EQ(frame->resizeView(view, &size), Steinberg::kResultOk);
    EXPECT_EQ(takeCalls(), (Calls{"window.resize 500x300", "view.onSize 500x300"}));

    EXPECT_EQ(frame->resizeView(nullptr, &size), Steinberg::kInvalidArgument);
    EXPECT_EQ(frame->resizeView(view, nullptr), Steinberg::kInvalidArgument);
    EXPECT_EQ(takeCalls(), Calls{});

    plugin->closeEditor();
    takeCalls();
    EXPECT_EQ(frame->resizeView(view, &size), Steinberg::kResultOk);  // the plug-in still holds its frame
    EXPECT_EQ(takeCalls(), Calls{});
}

TEST(Editor, GivesAViewWithoutSizeADefaultResizableWindowThatTheViewConstrains)
{
    auto plugin = openedEditor("Resizable Editor");
    ASSERT_TRUE(plugin);
    EXPECT_EQ(takeCalls().at(4), "window.open Resizable Editor 640x400 resizable");
    int width = 50;
    int height = 700;
    testWindows().open->onResize(width, height);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 700);
    EXPECT_EQ(takeCalls(), (Calls{"view.checkSizeConstraint", "view.onSize 100x700"}));
}
