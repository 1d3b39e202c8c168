#include "Framework/Registry.h"
#include "Framework/Text.h"
#include "tests/RegistryFixture.h"

TEST(Text, AnsiCodePageIs1251) { EXPECT_EQ(GetACP(), 1251u); }

TEST_F(RegistryTest, EachTestStartsEmpty) {
    RegKey key(HKEY_LOCAL_MACHINE, L"Software\\Probe", true, kRegWriteAccess);
    ASSERT_TRUE(key.IsOpen());
    EXPECT_FALSE(key[L"x"].Valid());
    key[L"x"] = DWORD(5);
}
