// The snapshot database file: the plain layout read and written as it stands, the escapes of
// what that layout cannot hold, and the in-memory edits of a comparison.
#include "core/snapshot/SnapshotDatabase.h"
#include "core/platform/Encoding.h"
#include "core/registry/Store.h"

#include <gtest/gtest.h>

using namespace klv;

namespace {

RawValue text(std::string name, std::string data, std::uint32_t type = REG_SZ) {
    RawValue v;
    v.name.bytes = std::move(name);
    v.type = type;
    v.data = std::move(data) + '\0';
    return v;
}

} // namespace

TEST(SnapshotDatabaseTest, ThePlainLayoutIsWrittenAndReadAsItStands) {
    std::string out;
    appendSnapshotSection(out, snapshotSectionName("HKEY_CURRENT_USER", "Software\\Sample"));
    appendSnapshotValue(out, text("", "default"));
    appendSnapshotValue(out, text("Path", "C:\\a=b;[x]"));
    RawValue n;
    n.name.bytes = "N";
    n.type = REG_DWORD;
    n.data = std::string("\xFF\xFF\xFF\xFF", 4);
    appendSnapshotValue(out, n);
    RawValue multi;
    multi.name.bytes = "M";
    multi.type = REG_MULTI_SZ;
    multi.data = std::string("one\0two\0\0", 9);
    appendSnapshotValue(out, multi);
    RawValue empty;
    empty.name.bytes = "E";
    empty.type = REG_BINARY;
    appendSnapshotValue(out, empty);
    RawValue bin;
    bin.name.bytes = "B";
    bin.type = REG_BINARY;
    bin.data = std::string(40, '\xAB');
    appendSnapshotValue(out, bin);
    const std::string line32 = [] {
        std::string s;
        for (int i = 0; i < 32; ++i)
            s += "AB ";
        return s;
    }();
    EXPECT_EQ(out, "\r\n[HKEY_CURRENT_USER\\Software\\Sample]\r\n"
                   "@=default\r\nPath=C:\\a=b;[x]\r\nN=4294967295\r\n"
                   "M!.Count=2\r\nM!.0=one\r\nM!.1=two\r\n"
                   "E!.Count=0\r\n"
                   "B!.Count=2\r\nB!.0=" +
                       line32 + "\r\nB!.1=AB AB AB AB AB AB AB AB \r\n");

    // Read back: names without regard to case; the first "=" ends the name.
    const SnapshotDatabase db = SnapshotDatabase::parse("ignored=1\n" + out);
    EXPECT_EQ(db.read("hkey_current_user\\software\\SAMPLE", "path"), "C:\\a=b;[x]");
    EXPECT_EQ(db.read("HKEY_CURRENT_USER\\Software\\Sample", "@"), "default");
    EXPECT_EQ(db.read("HKEY_CURRENT_USER\\Software\\Sample", "m!.count"), "2");
    EXPECT_FALSE(db.read("HKEY_CURRENT_USER\\Software\\Sample", "ignored"));
    EXPECT_FALSE(db.read("HKEY_CURRENT_USER\\Software\\Other", "Path"));
    EXPECT_FALSE(db.changed());
}

TEST(SnapshotDatabaseTest, WhatThePlainLayoutCannotHoldRoundTrips) {
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"a=b", "x"},
        {"[head]", "[data]"},
        {"@", "named at"},
        {"x!.Count", "ERROR"},
        {"crlf", "1\r\n2"},
        {"del", std::string("a\x7F") + "b"},
        {"\x95\x5C", "\x83\x41"}, // 表 (5C trail byte) and ア
    };
    std::string out;
    const std::string section = snapshotSectionName("HKEY_CURRENT_USER", "K\r\ney=[x]");
    appendSnapshotSection(out, section);
    for (const auto& [name, data] : hostile)
        appendSnapshotValue(out, text(name, data));
    RawValue wide;
    wide.name = StoredName{utf8ToUtf16("名前😀"), true};
    wide.type = REG_SZ;
    wide.data = utf8ToUtf16("値🍣") + std::string(2, '\0');
    wide.dataWide = true;
    appendSnapshotValue(out, wide);

    // Every line still has one name before its first "=", and no line looks like a section.
    const SnapshotDatabase db = SnapshotDatabase::parse(out);
    EXPECT_EQ(db.sectionNames(), std::vector<std::string>{section});
    for (const auto& [name, data] : hostile) {
        const auto stored = db.read(section, snapshotValueName(StoredName{name, false}));
        ASSERT_TRUE(stored) << name;
        EXPECT_EQ(snapshotShown(*stored), data) << name;
    }
    EXPECT_NE(snapshotValueName(StoredName{"@", false}), snapshotValueName(StoredName{"", false}));
    const auto w = db.read(section, snapshotValueName(wide.name));
    ASSERT_TRUE(w);
    EXPECT_EQ(*w, snapshotValueText(wide));
    EXPECT_EQ(snapshotShown(*w), sj("値〓")); // shown as CP932 shows it
    EXPECT_NE(snapshotValueName(wide.name),
              snapshotValueName(StoredName{utf8ToUtf16("名前🍣"), true}));
}

TEST(SnapshotDatabaseTest, EditsKeepTheirPlaceAndTheRebuiltLayoutDropsEmptySections) {
    SnapshotDatabase db = SnapshotDatabase::parse("\r\n[R\\A]\r\nx=1\r\ny=2\r\n\r\n[R\\Empty]\r\n"
                                                  "\r\n[R\\B]\r\nz=3\r\n[r\\a]\r\nw=4\r\n");
    db.write("R\\A", "X", "10"); // in place, the first spelling kept
    db.write("R\\C", "n", "5");  // a new section at the end
    db.eraseEntry("R\\B", "z");
    EXPECT_TRUE(db.changed());
    EXPECT_EQ(db.text(), "[R\\A]\r\nx=10\r\ny=2\r\nw=4\r\n\r\n[R\\C]\r\nn=5\r\n\r\n");
    db.eraseSection("r\\a");
    EXPECT_FALSE(db.hasSection("R\\A"));
    db.write("R\\A", "again", "1"); // a section erased and written again comes back at the end
    EXPECT_EQ(db.text(), "[R\\C]\r\nn=5\r\n\r\n[R\\A]\r\nagain=1\r\n\r\n");

    // Many sections: the index grows and erased sections do not hide the others.
    SnapshotDatabase big;
    for (int i = 0; i < 5000; ++i)
        big.write("R\\K" + std::to_string(i), "v", std::to_string(i));
    for (int i = 0; i < 5000; i += 2)
        big.eraseSection("r\\k" + std::to_string(i));
    for (int i = 0; i < 5000; ++i)
        EXPECT_EQ(big.read("R\\K" + std::to_string(i), "V").has_value(), i % 2 == 1) << i;
    int marked = 0, visited = 0;
    big.mark(*big.findSection("R\\K1"));
    big.forEachSection([&](std::string_view, bool m) {
        ++visited;
        marked += m;
    });
    EXPECT_EQ(visited, 2500);
    EXPECT_EQ(marked, 1);
}

TEST(SnapshotDatabaseTest, UnreadSectionsCompareAndAreWrittenAsTheirText) {
    SnapshotDatabase db =
        SnapshotDatabase::parse("\r\n[R\\A]\r\nx=1\r\ny=2\r\n\r\n\r\n[R\\B]\nz=3\n"
                                "\r\n[R\\C]\r\nc=1\r\n[r\\c]\r\nd=2\r\n"
                                "\r\n[R\\Empty]\r\n");
    const std::size_t a = *db.findSection("R\\A"), b = *db.findSection("R\\B");
    const std::size_t c = *db.findSection("R\\C"), empty = *db.findSection("r\\empty");
    EXPECT_EQ(db.findSection("R\\B", b), b);
    EXPECT_EQ(db.findSection("R\\C", a), c); // a wrong hint falls back to the index
    EXPECT_TRUE(db.sameEntries(a, "x=1\r\ny=2\r\n"));
    EXPECT_FALSE(db.sameEntries(a, "x=1\r\n"));
    EXPECT_TRUE(db.sameEntries(a, "x=1\r\ny=2\r\n"));
    EXPECT_TRUE(db.sameEntries(empty, ""));
    // Other line ends and a section met twice are read entry by entry.
    EXPECT_TRUE(db.sameEntries(b, "z=3\r\n"));
    EXPECT_EQ(db.read("R\\B", "z"), "3");
    EXPECT_FALSE(db.sameEntries(c, "c=1\r\n"));
    EXPECT_TRUE(db.sameEntries(c, "c=1\r\nd=2\r\n"));
    db.write("R\\New", "n", "1");
    EXPECT_EQ(db.text(), "[R\\A]\r\nx=1\r\ny=2\r\n\r\n[R\\B]\r\nz=3\r\n\r\n"
                         "[R\\C]\r\nc=1\r\nd=2\r\n\r\n[R\\New]\r\nn=1\r\n\r\n");
}
