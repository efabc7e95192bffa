// Choosing a device by a forgiving name: exact, case-blind, longest contained name, then fragment.
#include "audio/engine_impl.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The name of the device the request selects among devices listed under `names`, or "(none)".
std::string pick(std::vector<std::string> const& names, std::string const& request)
{
    std::vector<ma_device_info> infos(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        std::strncpy(infos[i].name, names[i].c_str(), sizeof infos[i].name - 1);
    ma_device_info const* found = find(infos.data(), static_cast<unsigned>(infos.size()), request);
    return found ? std::to_string(found - infos.data()) + ":" + found->name : "(none)";
}

}  // namespace

TEST(DeviceLookup, ExactThenCaseBlindThenTheLongestHeldNameThenTheFirstNameHoldingTheRequest)
{
    struct Case {
        std::vector<std::string> names;
        std::string request, expected;
    } const cases[] = {
        {{"Main Output Extra", "main output", "Main Output"}, "Main Output", "2:Main Output"},
        {{"Main Output Extra", "main output", "Main Output"}, "MAIN OUTPUT", "1:main output"},
        {{"Twin", "Twin"}, "twin", "0:Twin"},
        {{"Über Mic"}, "über mic", "(none)"},  // only ASCII letters fold
        {{"Line", "Line In", "Line In Extra"}, "Studio line in 3", "1:Line In"},
        {{"Left", "Rear"}, "Rear Left", "0:Left"},
        {{"", "Mic"}, "Guitar", "0:"},                      // an unnamed device is held by every request
        {{"Desk Speakers", "Desk"}, "desk speak", "1:Desk"},  // a held name beats one holding the request
        {{"Built-in", "Headphones (USB)", "USB Mic"}, "usb", "1:Headphones (USB)"},
        {{"Built-in", "USB Mic"}, "Bluetooth", "(none)"},
        {{}, "USB", "(none)"},
    };
    for (auto const& c : cases)
        EXPECT_EQ(pick(c.names, c.request), c.expected) << "request \"" << c.request << "\"";
}
