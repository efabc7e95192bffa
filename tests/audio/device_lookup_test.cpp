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

TEST(DeviceLookup, ContainsIgnoresTheCaseOfAsciiLettersOnly)
{
    EXPECT_TRUE(contains("Headphones (USB Test)", "usb TEST"));
    EXPECT_TRUE(contains("anything", ""));
    EXPECT_FALSE(contains("Écouteurs", "écouteurs"));
    EXPECT_FALSE(contains("Mic", "Mic 2"));
}

TEST(DeviceLookup, AWholeNameWinsFirstExactlyThenIgnoringCase)
{
    std::vector<std::string> const names{"Main Output Extra", "main output", "Main Output"};
    EXPECT_EQ(pick(names, "Main Output"), "2:Main Output");
    EXPECT_EQ(pick(names, "MAIN OUTPUT"), "1:main output");
    EXPECT_EQ(pick({"Über Mic"}, "über mic"), "(none)");  // only ASCII letters fold
    EXPECT_EQ(pick({"Twin", "Twin"}, "twin"), "0:Twin");
}

TEST(DeviceLookup, ARequestHoldingDeviceNamesSelectsTheLongestThenTheEarliest)
{
    EXPECT_EQ(pick({"Line", "Line In", "Line In Extra"}, "Studio line in 3"), "1:Line In");
    EXPECT_EQ(pick({"Left", "Rear"}, "Rear Left"), "0:Left");
    EXPECT_EQ(pick({"", "Mic"}, "Guitar"), "0:");  // an unnamed device is held by every request
    // A held name beats a device whose name holds the request.
    EXPECT_EQ(pick({"Desk Speakers", "Desk"}, "desk spk"), "1:Desk");
}

TEST(DeviceLookup, AFragmentSelectsTheFirstDeviceWhoseNameHoldsIt)
{
    EXPECT_EQ(pick({"Built-in", "Headphones (USB)", "USB Mic"}, "usb"), "1:Headphones (USB)");
    EXPECT_EQ(pick({"Built-in", "USB Mic"}, "Bluetooth"), "(none)");
    EXPECT_EQ(pick({}, "USB"), "(none)");
}
