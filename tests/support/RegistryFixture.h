#pragma once
// A fresh, empty store in temporary folders with one access object on it, and the listings
// the registry tests compare.
#include "core/registry/Registry.h"
#include "support/TempFolders.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace klv::test {

using Names = std::vector<std::string>;

class RegistryFixture : public ::testing::Test {
protected:
    TempFolders folders;
    std::shared_ptr<Store> store = Store::open(folders.storeFile());
    TRegistry reg{store};

    KeyId idOf(std::string_view path) {
        EXPECT_TRUE(reg.OpenKeyAnyAccess(path, false)) << path;
        return reg.CurrentKeyId().value_or(0);
    }
    // The list is filled over a stale entry, so that a listing that forgets to clear shows.
    Names subKeys(std::string_view path) {
        Names list{"stale"};
        if (reg.OpenKeyAnyAccess(path, false))
            reg.ListSubKeys(list);
        return list;
    }
    Names valueNames(std::string_view path) {
        Names list{"stale"};
        if (reg.OpenKeyAnyAccess(path, false))
            reg.ListValues(list);
        return list;
    }
};

} // namespace klv::test
