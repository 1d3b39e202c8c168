#include "Plugin/Settings/Config.h"
#include "tests/RegistryFixture.h"

using namespace Plugin;

class ConfigTest : public RegistryTest {
protected:
    RegKey machine_{HKEY_LOCAL_MACHINE, kOptionsKey, true, kRegWriteAccess};
    RegKey user_{HKEY_CURRENT_USER, kOptionsKey, true, kRegWriteAccess};
};

TEST_F(ConfigTest, UserOverMachineOverDefault) {
    PluginOptions options;
    EXPECT_FALSE(options.Read(L"Collect Enabled", false));
    machine_[L"Collect Enabled"] = DWORD(1);
    EXPECT_TRUE(PluginOptions().Read(L"Collect Enabled", false));
    user_[L"Collect Enabled"] = DWORD(0);  // the user's choice wins even when it turns the option off
    EXPECT_FALSE(PluginOptions().Read(L"Collect Enabled", true));
    machine_[L"Collect Receipt Count"] = DWORD(3);
    EXPECT_EQ(PluginOptions().Read(L"Collect Receipt Count", 2), 3);
    EXPECT_EQ(PluginOptions().Read(L"Collect Receipt Count", 2u), 3u);
    machine_[L"Collect Fiscal Report"] = L"X";
    user_[L"Collect Fiscal Report"] = L"Z";
    EXPECT_EQ(PluginOptions().Read(L"Collect Fiscal Report", L""), L"Z");
}

TEST_F(ConfigTest, WrongTypesReadAsAbsent) {
    machine_[L"Collect Enabled"] = DWORD(1);
    user_[L"Collect Enabled"] = L"0";  // a text where a flag belongs: the machine value counts
    EXPECT_TRUE(PluginOptions().Read(L"Collect Enabled", false));
    machine_[L"Collect Fiscal Report"] = DWORD(8);
    EXPECT_EQ(PluginOptions().Read(L"Collect Fiscal Report", L"dflt"), L"dflt");
    machine_[L"Print Delay"] = DWORD(0xFFFFFFFF);
    EXPECT_EQ(PluginOptions().Read(L"Print Delay", 1000), -1);
    EXPECT_EQ(PluginOptions().Read(L"Print Delay", 1000u), 0xFFFFFFFFu);
}

TEST_F(ConfigTest, NullKeysAreTolerated) {
    EXPECT_EQ(ReadSetting(HKEY(nullptr), L"x", 5), 5);
    EXPECT_EQ(ReadSetting(HKEY(nullptr), L"x", L"d"), L"d");
    EXPECT_TRUE(ReadSetting(HKEY(nullptr), L"x", true));
    machine_[L"x"] = DWORD(4);
    EXPECT_EQ(ReadOption(nullptr, machine_.Handle(), L"x", 1), 4);
    user_[L"x"] = DWORD(9);
    EXPECT_EQ(ReadOption(user_.Handle(), nullptr, L"x", 1), 9);
    EXPECT_EQ(ReadOption(nullptr, nullptr, L"x", 1u), 1u);
    // A subkey missing in both trees reads every option as its default.
    PluginOptions missing(kOptionsAlertEventsKey);
    EXPECT_FALSE(missing.User().IsOpen());
    EXPECT_EQ(missing.Read(L"NextDay", 0), 0);
}
