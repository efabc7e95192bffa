// Opening a VST 3 module (a bundle directory) through the SDK's module loader.
#pragma once

#include <public.sdk/source/vst/hosting/module.h>

#include <string>

// Empty when the module won't load; `error` then holds the loader's own text. A path the file
// system can't even look at (a name too long, say) is reported the same way instead of throwing.
VST3::Hosting::Module::Ptr openModule(std::string const& path, std::string& error);

// The class id as 32 upper-case hex digits, its bytes in memory order.
std::string uidText(VST3::UID const& id);
