// The host context that every component and edit controller of the process is initialised with.
#pragma once

namespace Steinberg::Vst {
class HostApplication;
}

// One for the whole process, built on first use. It also tells a plug-in which of its interfaces this host
// calls.
Steinberg::Vst::HostApplication& hostApplication();
