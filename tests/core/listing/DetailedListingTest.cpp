// The detailed listing: the entry of every value kind, the three ranges, and stop keeping the
// lines built so far.
#include "core/listing/DetailedListing.h"
#include "core/platform/Encoding.h"
#include "support/RegistryFixture.h"

#include <gtest/gtest.h>

using namespace klv;

namespace {

class DetailedListingTest : public test::RegistryFixture {
protected:
    DetailedListingTest() {
        reg.RootKey(HKEY_CURRENT_USER_H);
        EXPECT_TRUE(reg.OpenKey("\\L", true));
        reg.WriteString("", "x");
        reg.WriteString("path", "C:\\a \"b\"");
        reg.WriteExpandString("exp", "%TEMP%\\x");
        reg.WriteInteger("n", 255);
        reg.WriteMultiString("m", {"one", "two"});
        reg.WriteBinary("b", std::string("\x01\xAB", 2));
        reg.WriteBinary("empty", std::string());
        EXPECT_TRUE(reg.OpenKey("\\L\\Sub", true));
        reg.WriteString("s", "t");
        EXPECT_TRUE(reg.OpenKey("\\Other", true));
        reg.RootKey(HKEY_USERS_H);
        EXPECT_TRUE(reg.OpenKey("\\U", true));
    }
    Listing list(ListingRequest r, ListingCallbacks cb = {}) { return buildListing(r, cb, store); }
};

} // namespace

TEST_F(DetailedListingTest, EveryKindHasItsEntry) {
    ListingRequest r;
    r.keyPathText = "HKEY_CURRENT_USER\\L";
    const Listing l = list(r);
    EXPECT_EQ(cp932ToUtf8(l.text), "\r\n[HKEY_CURRENT_USER\\L]\r\n"
                                   "@=\"x\"\r\n"
                                   "path=\"C:\\a \"b\"\"\r\n"
                                   "exp=%TEMP%\\x\r\n"
                                   "n=255 (0x000000FF)\r\n"
                                   "m= (2行のマルチ文字列)\r\none\r\ntwo\r\n\r\n"
                                   "b=01 AB \r\n"
                                   "empty=\r\n"
                                   "\r\n[HKEY_CURRENT_USER\\L\\Sub]\r\ns=\"t\"\r\n");
    EXPECT_EQ(l.lines, 15u);
    EXPECT_EQ(l.keys, 2u);
    EXPECT_EQ(l.values, 8u);
    EXPECT_FALSE(l.stopped);
}

TEST_F(DetailedListingTest, TheThreeRangesAndStop) {
    ListingRequest all;
    all.range = ListingRange::All;
    const std::string every = list(all).text;
    // Roots get no line of their own; every key below them does, in root order.
    EXPECT_EQ(every.rfind("\r\n[HKEY_CURRENT_USER\\L]\r\n", 0), 0u);
    EXPECT_NE(every.find("[HKEY_CURRENT_USER\\Other]"), std::string::npos);
    EXPECT_GT(every.find("[HKEY_USERS\\U]"), every.find("[HKEY_CURRENT_USER\\Other]"));
    EXPECT_EQ(every.find("[HKEY_CURRENT_USER\\]"), std::string::npos);

    ListingRequest root;
    root.range = ListingRange::Root;
    root.rootIndex = 3; // HKEY_USERS
    EXPECT_EQ(list(root).text, "\r\n[HKEY_USERS\\]\r\n\r\n[HKEY_USERS\\U]\r\n");

    ListingRequest gone;
    gone.keyPathText = "HKEY_CURRENT_USER\\Nowhere";
    EXPECT_TRUE(list(gone).text.empty());

    // Stopped while the first subkey is reached: it keeps its key line, not its values, and the
    // start key's lines stay.
    bool stop = false;
    ListingCallbacks cb;
    cb.pump = [&] { stop = true; };
    cb.stop = &stop;
    ListingRequest key;
    key.keyPathText = "HKEY_CURRENT_USER\\L";
    const Listing cut = list(key, cb);
    EXPECT_TRUE(cut.stopped);
    EXPECT_EQ(cut.keys, 2u);
    EXPECT_EQ(cut.text.find("s=\"t\""), std::string::npos);
    EXPECT_EQ(cut.text.rfind("\r\n[HKEY_CURRENT_USER\\L]\r\n@=\"x\"", 0), 0u);
}
