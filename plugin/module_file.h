// A first look at a module's shared library, before the dynamic loader opens and maps it.
#pragma once

#include <string>

// False, with the reason in `error`, when the module's library in the bundle, or a library it needs (in
// turn) that the bundle ships in the same folder or in a folder of the bundle that a run path names, can't
// be handed to the loader safely: it isn't a regular file, or its ELF headers or loadable segments reach
// past its end. A library that isn't there or isn't ELF at all passes, so that the loader gives its own
// reason.
bool moduleFileLoadable(std::string const& bundle, std::string& error);
