// Each test gets an empty HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of its own: both predefined keys
// are redirected to scratch keys for the test and the scratch keys are removed afterwards.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <string>

class ScratchRegistry {
public:
    ScratchRegistry();
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

private:
    std::wstring root_;
    HKEY machine_ = nullptr, user_ = nullptr;
};

class RegistryTest : public ::testing::Test {
protected:
    ScratchRegistry registry_;
};
