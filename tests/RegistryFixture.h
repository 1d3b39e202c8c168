// Each test gets an empty HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of its own.
#pragma once
#include "Framework/ScratchRegistry.h"
#include <gtest/gtest.h>

class RegistryTest : public ::testing::Test {
protected:
    ScratchRegistry registry_;
};
