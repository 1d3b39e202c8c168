// Each test gets an empty HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of its own.
#pragma once
#include "Framework/Registry.h"
#include "Harness/ScratchRegistry.h"
#include <gtest/gtest.h>
#include <sddl.h>

class RegistryTest : public ::testing::Test {
protected:
    ScratchRegistry registry_;
};

// A key that nobody may open while this lives: the registry's own access check, for tests of
// what a failed read or open does. The key is made if missing; its access comes back at the end.
class DeniedKey {
public:
    DeniedKey(HKEY root, const std::wstring& path) : key_(root, path, true, kRegWriteAccess | WRITE_DAC) {
        EXPECT_TRUE(key_.IsOpen());
        Apply(L"D:(D;;KA;;;WD)");
    }
    ~DeniedKey() { Restore(); }
    DeniedKey(const DeniedKey&) = delete;
    DeniedKey& operator=(const DeniedKey&) = delete;
    void Restore() { Apply(L"D:(A;;KA;;;WD)"); }

private:
    void Apply(const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        EXPECT_EQ(RegSetKeySecurity(key_.Handle(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
        LocalFree(descriptor);
    }
    RegKey key_;  // kept open: it still may change the access afterwards
};
