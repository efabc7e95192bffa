// Module opening and class-id text shared by loading and scanning.
#include "plugin/module.h"

#include "plugin/module_file.h"

#include <cstdio>
#include <filesystem>

VST3::Hosting::Module::Ptr openModule(std::string const& path, std::string& error)
{
    // Shell completion ends a bundle path with "/", which the loader would read as an empty bundle name.
    std::string bundle = path;
    while (bundle.size() > 1 && bundle.back() == '/')
        bundle.pop_back();
    if (!moduleFileLoadable(bundle, error))
        return nullptr;
    try {
        return VST3::Hosting::Module::create(bundle, error);
    } catch (std::filesystem::filesystem_error const& e) {
        error = e.what();
        return nullptr;
    }
}

std::string uidText(VST3::UID const& id)
{
    std::string text;
    for (char byte : id.data()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(byte));
        text += digits;
    }
    return text;
}
