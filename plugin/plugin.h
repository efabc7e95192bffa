// What the rest of the system knows about a loaded plug-in, and the one way to load one.
// Every operation but process() runs on the main thread; process() runs on the audio thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What to load: the format word ("vst3"), the module's bundle path and the class id as 32 hex digits.
struct PluginRef {
    std::string format;
    std::string path;
    std::string uid;

    bool operator==(PluginRef const&) const = default;
};

// One effect class found by scanning a module.
struct PluginInfo {
    std::string format;
    std::string path;
    std::string uid;
    std::string name;
    std::string vendor;
};

class Plugin {
public:
    virtual ~Plugin() = default;

    // Display name; valid as long as the plug-in lives.
    virtual std::string const& name() const = 0;
    // False when the plug-in refuses the rate or block size; the caller words the sentence.
    virtual bool prepare(double sampleRate, int maxFrames) = 0;
    // Audio thread: takes no lock, allocates nothing. Two input and two output channels,
    // frames at most the maxFrames of the last successful prepare().
    virtual void process(float const* const* inputs, float* const* outputs, int frames) = 0;
    // The persisted state as a state blob ("QRSB", component chunk, controller chunk).
    virtual std::vector<unsigned char> state() = 0;
    // False for a malformed blob or one the plug-in refuses; the caller words the sentence.
    virtual bool setState(std::vector<unsigned char> const& bytes) = 0;
    // Opens or raises the editor window; on false `error` holds one sentence.
    virtual bool openEditor(std::string& error) = 0;
    // Closes the editor if one is open, then calls onEdited in every case.
    virtual void closeEditor() = 0;
    virtual bool editorOpen() const = 0;

    // Called on the main thread whenever the persisted state may have changed or the editor closed.
    std::function<void()> onEdited;
};

// Loads one class of one module. On failure returns an empty owner and puts one sentence in `error`.
std::unique_ptr<Plugin> loadPlugin(PluginRef const& ref, std::string& error);
