#include "core/registry/Registry.h"
#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"
#include "core/registry/ValueText.h"
#include "support/RegistryFixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace klv;

namespace {

using test::Names;

class RegistryTest : public test::RegistryFixture {
protected:
    // The message a call raised, or "" when it raised nothing.
    template <class F> static std::string errorOf(F&& f) {
        try {
            f();
        } catch (const RegistryError& e) {
            return e.what();
        }
        return {};
    }
    // Every key and value below `id`, stored names and bytes as they are, in listing order.
    Names tree(KeyId id, const std::string& at = {}) {
        Names out;
        const std::vector<RawValue> vals = store->values(id);
        for (const RawValue& v : vals)
            out.push_back("V " + at + "|" + (v.name.wide ? "w:" : "") + v.name.bytes + "|" +
                          std::to_string(v.type) + "|" + (v.dataWide ? "w:" : "") +
                          hexText(v.data));
        const std::vector<KeyId> kids = store->children(id);
        for (KeyId c : kids) {
            const StoredName name = store->key(c)->name;
            const std::string path = at + "\\" + (name.wide ? "w:" : "") + name.bytes;
            out.push_back("K " + path);
            for (std::string& line : tree(c, path))
                out.push_back(std::move(line));
        }
        return out;
    }
};

const std::string kQword("\x01\x02\x03\x04\x05\x06\x07\x08", 8);

// Applies the one key path rule the way every caller does.
bool openKeyPath(TRegistry& reg, std::string_view text) {
    const SplitKeyPath split = splitKeyPath(text);
    if (split.root)
        reg.RootKey(*split.root);
    return reg.OpenKeyAnyAccess(split.subPath, false);
}

} // namespace

TEST_F(RegistryTest, KeyPathTextsSplitIntoRootAndSubPath) {
    SplitKeyPath s = splitKeyPath("HKEY_LOCAL_MACHINE\\Software\\Classes");
    EXPECT_EQ(s.rootName, "HKEY_LOCAL_MACHINE");
    EXPECT_EQ(s.subPath, "\\Software\\Classes");
    EXPECT_EQ(s.root, HKEY_LOCAL_MACHINE_H);

    s = splitKeyPath("HKEY_USERS");
    EXPECT_EQ(s.subPath, "");
    EXPECT_EQ(s.root, HKEY_USERS_H);
    EXPECT_EQ(splitKeyPath("HKEY_DYN_DATA").root, HKEY_DYN_DATA_H);

    // Root names compare exactly; the performance-data root is not one of them.
    EXPECT_EQ(splitKeyPath("hkey_users\\x").root, std::nullopt);
    EXPECT_EQ(splitKeyPath("HKEY_USERS_\\x").root, std::nullopt);
    EXPECT_EQ(splitKeyPath("HKEY_PERFORMANCE_DATA").root, std::nullopt);

    const std::string caption = sj("マイコンピュータ\\Software");
    s = splitKeyPath(caption);
    EXPECT_EQ(s.rootName, sj("マイコンピュータ"));
    EXPECT_EQ(s.subPath, "\\Software");
    EXPECT_EQ(s.root, std::nullopt);
    // ソ is 83 5C: its trail byte is not the separator.
    const std::string soft = sj("ソフト\\Software");
    s = splitKeyPath(soft);
    EXPECT_EQ(s.rootName, sj("ソフト"));
    EXPECT_EQ(s.subPath, "\\Software");
}

TEST_F(RegistryTest, KeyPathTextsOpenTheirRootAndKey) {
    ASSERT_TRUE(reg.CreateKey("\\Software\\InUser"));
    reg.RootKey(HKEY_USERS_H);
    ASSERT_TRUE(reg.CreateKey("\\.DEFAULT"));
    reg.RootKey(HKEY_CURRENT_USER_H);

    TRegistry fresh(store);
    ASSERT_TRUE(openKeyPath(fresh, "HKEY_USERS"));
    EXPECT_EQ(fresh.RootKey(), HKEY_USERS_H);
    EXPECT_EQ(fresh.CurrentKeyId(), Store::rootId(3)); // the root key itself
    Names list;
    fresh.ListSubKeys(list);
    EXPECT_EQ(list, Names{".DEFAULT"});

    // An unknown first component keeps the root (a fresh object's is HKEY_CURRENT_USER).
    TRegistry other(store);
    ASSERT_TRUE(openKeyPath(other, sj("マイコンピュータ\\Software")));
    EXPECT_EQ(other.RootKey(), HKEY_CURRENT_USER_H);
    other.ListSubKeys(list);
    EXPECT_EQ(list, Names{"InUser"});
    ASSERT_TRUE(openKeyPath(fresh, sj("マイコンピュータ\\.DEFAULT")));
    EXPECT_EQ(fresh.RootKey(), HKEY_USERS_H);
    EXPECT_FALSE(openKeyPath(fresh, "hkey_current_user\\Software"));
}

TEST_F(RegistryTest, OpeningIsRelativeToTheCurrentKeyOrFromTheRoot) {
    EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER_H);
    EXPECT_FALSE(reg.HasCurrentKey());
    ASSERT_TRUE(reg.CreateKey("\\A\\B\\C"));
    EXPECT_FALSE(reg.HasCurrentKey()); // creating leaves the current key alone

    ASSERT_TRUE(reg.OpenKey("A", false)); // no key open: from the root
    EXPECT_EQ(reg.CurrentPath(), "A");
    EXPECT_TRUE(reg.CurrentKeyWritable());
    ASSERT_TRUE(reg.OpenKey("B", false));
    EXPECT_EQ(reg.CurrentPath(), "A\\B");
    ASSERT_TRUE(reg.OpenKey("C", false));
    EXPECT_EQ(reg.CurrentPath(), "A\\B\\C");
    const KeyId c = *reg.CurrentKeyId();

    // A failed opening keeps the open key.
    EXPECT_FALSE(reg.OpenKey("B", false));
    EXPECT_FALSE(reg.OpenKeyAnyAccess("\\Missing", false));
    EXPECT_EQ(reg.CurrentKeyId(), c);
    EXPECT_EQ(reg.CurrentPath(), "A\\B\\C");

    ASSERT_TRUE(reg.OpenKey("\\A\\B", false));
    EXPECT_EQ(reg.CurrentPath(), "A\\B");
    ASSERT_TRUE(reg.OpenKey("C\\New", true)); // created below the open key
    EXPECT_EQ(reg.CurrentPath(), "A\\B\\C\\New");
    EXPECT_TRUE(reg.KeyPresent("\\A\\B\\C\\New"));
    EXPECT_FALSE(reg.KeyPresent("\\New"));
    EXPECT_FALSE(reg.OpenKey("\\Other", false));
    EXPECT_FALSE(reg.KeyPresent("\\Other")); // opening without the flag creates nothing

    // The create flag with an empty path opens the root itself.
    ASSERT_TRUE(reg.OpenKey("", true));
    EXPECT_EQ(reg.CurrentKeyId(), Store::rootId(1));
    EXPECT_EQ(reg.CurrentPath(), "");

    ASSERT_TRUE(reg.OpenKeyForReading("\\A"));
    EXPECT_FALSE(reg.CurrentKeyWritable());
    reg.RootKey(HKEY_CURRENT_USER_H); // the same root keeps the key
    EXPECT_TRUE(reg.HasCurrentKey());
    reg.RootKey(HKEY_LOCAL_MACHINE_H);
    EXPECT_FALSE(reg.HasCurrentKey());
    EXPECT_EQ(reg.CurrentPath(), "");
    EXPECT_FALSE(reg.KeyPresent("\\A")); // each root is its own tree
    EXPECT_FALSE(reg.OpenKey("A", false));

    reg.RootKey(HKEY_CURRENT_USER_H);
    ASSERT_TRUE(reg.OpenKey("\\A", false));
    reg.CloseKey();
    EXPECT_FALSE(reg.HasCurrentKey());
    EXPECT_EQ(reg.CurrentPath(), "");
    KeyInfo info;
    EXPECT_FALSE(reg.QueryKeyInfo(info));
    EXPECT_FALSE(reg.KeyHasSubKeys());
    EXPECT_EQ(subKeys("\\A\\B\\C"), Names{"New"});
    EXPECT_TRUE(reg.KeyHasSubKeys());
    EXPECT_EQ(subKeys("\\A\\B\\C\\New"), Names{});
    EXPECT_FALSE(reg.KeyHasSubKeys());
}

TEST_F(RegistryTest, KeyAccessDecidesHowAKeyOpens) {
    ASSERT_TRUE(reg.CreateKey("\\RO\\Child"));
    ASSERT_TRUE(reg.CreateKey("\\None\\Child"));
    ASSERT_TRUE(reg.OpenKey("\\RO", false));
    reg.WriteString("v", "kept");
    const KeyId ro = *reg.CurrentKeyId();
    store->setAccess(ro, KeyAccess::ReadOnly);
    store->setAccess(idOf("\\None"), KeyAccess::None);
    reg.CloseKey();

    EXPECT_FALSE(reg.OpenKey("\\RO", false));
    EXPECT_FALSE(reg.OpenKey("\\RO", true));
    EXPECT_FALSE(reg.KeyPresent("\\RO"));
    ASSERT_TRUE(reg.OpenKeyAnyAccess("\\RO", false));
    EXPECT_EQ(reg.CurrentKeyId(), ro);
    EXPECT_FALSE(reg.CurrentKeyWritable());
    Names list;
    reg.ListSubKeys(list);
    EXPECT_EQ(list, Names{"Child"});
    EXPECT_EQ(reg.ReadText("v"), "kept");
    EXPECT_EQ(errorOf([&] { reg.WriteString("v", "x"); }), sj("'v' の設定に失敗しました"));
    EXPECT_FALSE(reg.DeleteValue("v"));
    EXPECT_EQ(reg.ReadText("v"), "kept");
    ASSERT_TRUE(reg.OpenKeyForReading("\\RO"));
    EXPECT_FALSE(reg.CurrentKeyWritable());

    // Nothing can be created below a read-only key, by any opening.
    EXPECT_FALSE(reg.OpenKeyAnyAccess("\\RO\\New", true));
    EXPECT_EQ(errorOf([&] { reg.CreateKey("\\RO\\New"); }),
              sj("キー \\RO\\New の作成に失敗しました"));
    EXPECT_EQ(subKeys("\\RO"), Names{"Child"});

    EXPECT_FALSE(reg.OpenKey("\\None", false));
    EXPECT_FALSE(reg.OpenKeyForReading("\\None"));
    EXPECT_FALSE(reg.OpenKeyAnyAccess("\\None", false));
    EXPECT_FALSE(reg.KeyPresent("\\None"));
    EXPECT_EQ(reg.CurrentKeyId(), ro);
}

TEST_F(RegistryTest, WritesToAKeyOpenedForReadingRaise) {
    ASSERT_TRUE(reg.OpenKey("\\K", true));
    reg.WriteString("s", "old");
    ASSERT_TRUE(reg.OpenKeyForReading("\\K"));
    const std::string failed = sj("'s' の設定に失敗しました");
    EXPECT_EQ(errorOf([&] { reg.WriteString("s", "new"); }), failed);
    EXPECT_EQ(errorOf([&] { reg.WriteExpandString("s", "new"); }), failed);
    EXPECT_EQ(errorOf([&] { reg.WriteInteger("s", 1); }), failed);
    EXPECT_EQ(errorOf([&] { reg.WriteBinary("s", "\x01", 1); }), failed);
    EXPECT_EQ(errorOf([&] { reg.WriteMultiString("s", {"a"}); }), failed);
    EXPECT_EQ(errorOf([&] { reg.WriteRaw(RawValue{{"s"}, REG_QWORD, kQword}); }), failed);
    EXPECT_NE(errorOf([&] { reg.RenameValue("s", "t"); }), "");
    EXPECT_FALSE(reg.DeleteValue("s"));
    EXPECT_EQ(reg.ReadText("s"), "old");
    EXPECT_EQ(valueNames("\\K"), Names{"s"});

    reg.CloseKey();
    EXPECT_EQ(errorOf([&] { reg.WriteString("s", "new"); }), failed); // no key at all
}

TEST_F(RegistryTest, CreateKeyMakesParentsOrRaisesAndMakesNothing) {
    reg.RootKey(HKEY_LOCAL_MACHINE_H);
    ASSERT_TRUE(reg.OpenKey("\\Open", true));
    EXPECT_TRUE(reg.CreateKey("Rel\\A\\B")); // relative to the open key
    EXPECT_EQ(reg.CurrentPath(), "Open");
    EXPECT_TRUE(reg.KeyPresent("\\Open\\Rel\\A\\B"));
    EXPECT_TRUE(reg.CreateKey("\\Open\\Rel")); // an existing key is fine

    const std::string name255(255, 'n');
    EXPECT_TRUE(reg.CreateKey("\\" + name255));
    const std::string tooLong = "\\Parent\\" + std::string(256, 'n');
    EXPECT_EQ(errorOf([&] { reg.CreateKey(tooLong); }),
              sj("キー ") + tooLong + sj(" の作成に失敗しました"));
    EXPECT_FALSE(reg.KeyPresent("\\Parent")); // no half-made path
    EXPECT_FALSE(reg.OpenKey(tooLong, true));
    EXPECT_FALSE(reg.KeyPresent("\\Parent"));
    EXPECT_FALSE(reg.OpenKeyAnyAccess(tooLong, true));
    EXPECT_EQ(subKeys(""), (Names{name255, "Open"}));
}

TEST_F(RegistryTest, ReadersCheckKindAndSize) {
    ASSERT_TRUE(reg.OpenKey("\\V", true));
    reg.WriteString("s", sj("日本語"));
    reg.WriteExpandString("e", "%SystemRoot%\\x");
    reg.WriteInteger("d", 0x12345678);
    reg.WriteBinary("b", "\x01\xAB\xFF", 3);
    reg.WriteMultiString("m", {"a", sj("表")});
    reg.WriteRaw(RawValue{{"q"}, REG_QWORD, kQword});
    reg.WriteRaw(RawValue{{"cut"}, REG_SZ, std::string("ab\0cd\0", 6)});

    // Stored forms: text plus one NUL, little-endian DWORD, list with a final extra NUL.
    EXPECT_EQ(reg.ReadRaw("s")->data, sj("日本語") + '\0');
    EXPECT_EQ(reg.GetDataSize("s"), 7);
    EXPECT_EQ(reg.ReadRaw("d")->data, "\x78\x56\x34\x12");
    EXPECT_EQ(reg.ReadRaw("m")->data, std::string("a\0", 2) + sj("表") + std::string("\0\0", 2));
    EXPECT_EQ(reg.ReadRaw("e")->type, REG_EXPAND_SZ);

    EXPECT_EQ(reg.ReadText("s"), sj("日本語"));
    EXPECT_EQ(reg.ReadText("e"), "%SystemRoot%\\x");
    EXPECT_EQ(reg.ReadText("cut"), "ab");
    EXPECT_EQ(reg.ReadDword("d"), 0x12345678u);
    EXPECT_EQ(reg.ReadBinary("q"), kQword); // unknown kinds read as raw bytes

    const std::string bad = sj("' のデータ型が不正です");
    EXPECT_EQ(errorOf([&] { reg.ReadText("d"); }), "'d" + bad);
    EXPECT_EQ(errorOf([&] { reg.ReadText("m"); }), "'m" + bad);
    EXPECT_EQ(errorOf([&] { reg.ReadText("q"); }), "'q" + bad);
    EXPECT_EQ(errorOf([&] { reg.ReadDword("s"); }), "'s" + bad);
    EXPECT_EQ(errorOf([&] { reg.ReadDword("b"); }), "'b" + bad);
    EXPECT_EQ(errorOf([&] { reg.ReadBinary("s"); }), "'s" + bad);
    EXPECT_EQ(errorOf([&] { reg.ReadBinary("d"); }), "'d" + bad);
    EXPECT_EQ(errorOf([&] { reg.ReadDword("missing"); }), sj("'missing' の取得に失敗しました"));

    char buf[8] = {};
    EXPECT_EQ(errorOf([&] { reg.ReadBinary("b", buf, 2); }), "'b" + bad);
    EXPECT_EQ(buf[0], 0); // nothing copied into a small buffer
    EXPECT_EQ(reg.ReadBinary("b", buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "\x01\xAB\xFF");
    EXPECT_EQ(reg.ReadBinary("q", buf, 8), 8);
    EXPECT_EQ(errorOf([&] { reg.ReadBinary("d", buf, 8); }), "'d" + bad);

    ValueInfo info;
    ASSERT_TRUE(reg.QueryValueInfo("q", info));
    EXPECT_EQ(info.kind, ValueKind::Unknown);
    EXPECT_EQ(info.rawType, REG_QWORD);
    EXPECT_EQ(info.size, 8);
    EXPECT_FALSE(reg.QueryValueInfo("missing", info));
    EXPECT_FALSE(reg.ValuePresent("missing"));
    EXPECT_EQ(reg.GetDataType("missing"), ValueKind::Unknown);
    EXPECT_EQ(reg.GetDataSize("missing"), -1);
    EXPECT_EQ(reg.ReadText("missing"), "");
}

TEST_F(RegistryTest, ZeroLengthValuesReadAsEmptyTextOfAnyKind) {
    ASSERT_TRUE(reg.OpenKey("\\Z", true));
    for (std::uint32_t type :
         {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_NONE, REG_QWORD}) {
        const std::string name = "t" + std::to_string(type);
        reg.WriteRaw(RawValue{{name}, type, ""});
        EXPECT_EQ(reg.GetDataSize(name), 0);
        EXPECT_EQ(errorOf([&] { EXPECT_EQ(reg.ReadText(name), ""); }), "") << type;
    }
    reg.WriteBinary("b", nullptr, 0);
    EXPECT_EQ(reg.ReadRaw("b")->type, REG_BINARY);
    EXPECT_EQ(reg.ReadBinary("b"), "");
}

TEST_F(RegistryTest, ReadMultiTextStopsAtTheFirstEmptyStringAndSkipsOtherTypes) {
    ASSERT_TRUE(reg.OpenKey("\\M", true));
    reg.WriteRaw(RawValue{{"gap"}, REG_MULTI_SZ, std::string("a\0\0b\0\0", 6)});
    reg.WriteRaw(RawValue{{"bin"}, REG_BINARY, std::string("x\0y\0\0", 5)});
    reg.WriteRaw(RawValue{{"sz"}, REG_SZ, std::string("x\0", 2)});
    reg.WriteRaw(RawValue{{"unterminated"}, REG_MULTI_SZ, "one"});
    reg.WriteMultiString("list", {"1", sj("二"), "3"});
    reg.WriteMultiString("none", {});
    // An empty item is dropped rather than written as the list's end.
    reg.WriteMultiString("holes", {"", "a", "", "b", ""});

    Names list{"kept"}; // appended to, never cleared
    reg.ReadMultiText("gap", list);
    EXPECT_EQ(list, (Names{"kept", "a"}));
    list.clear();
    reg.ReadMultiText("bin", list);
    reg.ReadMultiText("sz", list);
    reg.ReadMultiText("missing", list);
    reg.ReadMultiText("none", list);
    EXPECT_EQ(list, Names{});
    reg.ReadMultiText("list", list);
    EXPECT_EQ(list, (Names{"1", sj("二"), "3"}));
    list.clear();
    reg.ReadMultiText("unterminated", list);
    EXPECT_EQ(list, Names{"one"});
    list.clear();
    reg.ReadMultiText("holes", list);
    EXPECT_EQ(list, (Names{"a", "b"}));
    EXPECT_EQ(reg.ReadRaw("holes")->data, std::string("a\0b\0\0", 5));
}

// One rule for every operation: a path with an empty component names no key, except a single
// trailing backslash; the current path is kept without leading or trailing backslashes.
TEST_F(RegistryTest, APathWithAnEmptyComponentNamesNoKeyInAnyOperation) {
    ASSERT_TRUE(reg.CreateKey("\\A\\B"));
    for (const char* broken : {"\\A\\\\", "\\A\\\\B", "\\\\A", "\\\\", "A\\\\B"}) {
        reg.CloseKey();
        EXPECT_FALSE(reg.OpenKey(broken, false)) << broken;
        EXPECT_FALSE(reg.OpenKeyAnyAccess(broken, true)) << broken;
        EXPECT_FALSE(reg.KeyPresent(broken)) << broken;
        EXPECT_NE(errorOf([&] { reg.CreateKey(broken); }), "") << broken;
        EXPECT_FALSE(reg.DeleteKey(broken)) << broken;
        reg.MoveKey(broken, "\\Moved", false);
        EXPECT_FALSE(reg.KeyPresent("\\Moved")) << broken;
    }
    EXPECT_EQ(subKeys("\\A"), Names{"B"});
    EXPECT_EQ(subKeys(""), Names{"A"});

    ASSERT_TRUE(reg.OpenKey("\\A\\", false));
    EXPECT_EQ(reg.CurrentPath(), "A");
    ASSERT_TRUE(reg.OpenKey("B\\", false));
    EXPECT_EQ(reg.CurrentPath(), "A\\B");
    EXPECT_FALSE(reg.OpenKey("\\\\", false)); // relative, but still an empty component
    EXPECT_EQ(reg.CurrentPath(), "A\\B");
    ASSERT_TRUE(reg.OpenKey("\\", false)); // the root
    EXPECT_EQ(reg.CurrentPath(), "");
    ASSERT_TRUE(reg.OpenKey("A", false));
    EXPECT_EQ(reg.CurrentPath(), "A");
}

// 0x80000004 is never opened; neither is any other handle that names no root, and nothing
// falls back to HKEY_CURRENT_USER.
TEST_F(RegistryTest, AnUnknownRootOpensAndCreatesNothing) {
    for (const RootHandle unknown : {RootHandle{0x80000004u}, RootHandle{0x12345u}}) {
        reg.RootKey(unknown);
        EXPECT_FALSE(reg.OpenKey("", false));
        EXPECT_FALSE(reg.OpenKey("\\X", true));
        EXPECT_FALSE(reg.OpenKeyAnyAccess("\\X", true));
        EXPECT_FALSE(reg.KeyPresent(""));
        EXPECT_EQ(errorOf([&] { reg.CreateKey("\\X"); }), sj("キー \\X の作成に失敗しました"));
        EXPECT_FALSE(reg.DeleteKey("\\X"));
    }
    reg.RootKey(HKEY_CURRENT_USER_H);
    EXPECT_EQ(subKeys(""), Names{});
}

TEST_F(RegistryTest, CreateKeyOnAKeyThatCannotBeWrittenRaises) {
    ASSERT_TRUE(reg.CreateKey("\\RO"));
    ASSERT_TRUE(reg.CreateKey("\\None"));
    store->setAccess(idOf("\\RO"), KeyAccess::ReadOnly);
    store->setAccess(idOf("\\None"), KeyAccess::None);
    reg.CloseKey();
    EXPECT_EQ(errorOf([&] { reg.CreateKey("\\RO"); }), sj("キー \\RO の作成に失敗しました"));
    EXPECT_EQ(errorOf([&] { reg.CreateKey("\\None"); }), sj("キー \\None の作成に失敗しました"));
    EXPECT_TRUE(reg.CreateKey("\\Full"));
    EXPECT_TRUE(reg.CreateKey("\\Full")); // an existing key that may be written is fine
}

// A damaged store answers "no" to the questions that return results, and raises the layer's
// error where the operation raises; nothing else escapes.
TEST_F(RegistryTest, ADamagedStoreGivesResultsNotStrayExceptions) {
    ASSERT_TRUE(reg.CreateKey("\\K\\Sub"));
    TRegistry fresh(Store::open(folders.storeFile()));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(folders.storeFile().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "ALTER TABLE keys RENAME TO gone", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    EXPECT_FALSE(fresh.KeyPresent("\\K\\Sub"));
    EXPECT_FALSE(fresh.DeleteKey("\\K\\Sub"));
    EXPECT_FALSE(fresh.OpenKey("\\K", false));
    try {
        fresh.MoveKey("\\K\\Sub", "\\T", false);
    } catch (const RegistryError&) {
        // the layer's own error is fine
    } catch (...) {
        ADD_FAILURE() << "MoveKey let another exception escape";
    }
}

TEST_F(RegistryTest, NamesWithANulCharacterAreRefused) {
    const std::string nulKey("\\A\0B", 4);
    EXPECT_NE(errorOf([&] { reg.CreateKey(nulKey); }), "");
    EXPECT_FALSE(reg.OpenKey(nulKey, true));
    EXPECT_EQ(subKeys(""), Names{});
    ASSERT_TRUE(reg.OpenKey("\\V", true));
    EXPECT_NE(errorOf([&] { reg.WriteString(std::string("a\0b", 3), "x"); }), "");
    EXPECT_EQ(valueNames("\\V"), Names{});
}

TEST_F(RegistryTest, UnicodeTextsReadAsCp932WithGeta) {
    ASSERT_TRUE(reg.OpenKey("\\U", true));
    reg.WriteRaw(RawValue{{"s"}, REG_SZ, utf8ToUtf16(std::string("a😀表\0", 9)), true});
    reg.WriteRaw(RawValue{{"m"}, REG_MULTI_SZ, utf8ToUtf16(std::string("x\0😀\0\0", 8)), true});
    const std::string geta(kCp932Geta);
    EXPECT_EQ(reg.ReadText("s"), "a" + geta + sj("表"));
    EXPECT_EQ(reg.GetDataSize("s"), 6); // as an ANSI program sees it
    Names list;
    reg.ReadMultiText("m", list);
    EXPECT_EQ(list, (Names{"x", geta}));
    EXPECT_TRUE(reg.ReadRaw("s")->dataWide);

    // A write through the access layer stores CP932, also over a UTF-16 value.
    reg.WriteString("s", sj("表"));
    EXPECT_EQ(reg.ReadRaw("s"), (RawValue{{"s"}, REG_SZ, sj("表") + '\0', false}));
    TRegistry other(Store::open(folders.storeFile()));
    ASSERT_TRUE(other.OpenKey("\\U", false));
    EXPECT_EQ(other.ReadRaw("s"), (RawValue{{"s"}, REG_SZ, sj("表") + '\0', false}));
    EXPECT_EQ(other.ReadText("s"), sj("表"));
}

TEST_F(RegistryTest, RenameValueMovesTypeAndBytesUnlessTheNewNameIsTaken) {
    ASSERT_TRUE(reg.OpenKey("\\R", true));
    reg.WriteRaw(RawValue{{"q"}, REG_QWORD, kQword});
    reg.WriteString("x", "1");
    reg.WriteString("y", "2");
    reg.WriteRaw(RawValue{{"w"}, REG_SZ, utf8ToUtf16(std::string("😀\0", 5)), true});

    reg.RenameValue("q", sj("新しい名前"));
    EXPECT_FALSE(reg.ValuePresent("q"));
    EXPECT_EQ(reg.ReadRaw(sj("新しい名前")), (RawValue{{sj("新しい名前")}, REG_QWORD, kQword}));
    reg.RenameValue("w", "w2");
    EXPECT_EQ(reg.ReadRaw("w2"),
              (RawValue{{"w2"}, REG_SZ, utf8ToUtf16(std::string("😀\0", 5)), true}));

    reg.RenameValue("x", "y");
    reg.RenameValue("x", "Y"); // names compare without case
    reg.RenameValue("missing", "z");
    EXPECT_EQ(reg.ReadText("x"), "1");
    EXPECT_EQ(reg.ReadText("y"), "2");
    EXPECT_FALSE(reg.ValuePresent("z"));

    // A refused new name keeps the old value.
    const std::string huge(kMaxValueNameBytes + 1, 'n');
    EXPECT_EQ(errorOf([&] { reg.RenameValue("x", huge); }),
              "'" + huge + sj("' の設定に失敗しました"));
    EXPECT_EQ(reg.ReadText("x"), "1");
    EXPECT_EQ(valueNames("\\R"), (Names{"x", "y", sj("新しい名前"), "w2"}));
}

TEST_F(RegistryTest, MoveKeyCopiesTheWholeSubtree) {
    ASSERT_TRUE(reg.OpenKey("\\Src", true));
    const KeyId src = *reg.CurrentKeyId();
    reg.WriteString("", sj("既定"));
    reg.WriteBinary("empty", nullptr, 0);
    reg.WriteRaw(RawValue{{"emptysz"}, REG_SZ, ""});
    reg.WriteRaw(RawValue{{"q"}, REG_QWORD, kQword});
    reg.WriteRaw(RawValue{{"odd"}, 0x12345u, std::string("\x00\x01", 2)});
    reg.WriteRaw(RawValue{
        {utf8ToUtf16("v😀"), true}, REG_MULTI_SZ, utf8ToUtf16(std::string("😀\0\0", 6)), true});
    ASSERT_TRUE(reg.OpenKey("\\Src\\Sub\\Deep", true));
    reg.WriteInteger(sj("数"), 7);
    const KeyId wide = store->createChild(src, StoredName{utf8ToUtf16("k😀"), true});
    store->setValue(wide, RawValue{{"in"}, REG_SZ, std::string("x\0", 2)});
    ASSERT_TRUE(reg.OpenKey("\\Src\\ReadOnly", true));
    reg.WriteString("r", "r");
    store->setAccess(*reg.CurrentKeyId(), KeyAccess::ReadOnly);
    const Names before = tree(src);
    ASSERT_EQ(before.size(), 13u);

    reg.CloseKey();
    reg.MoveKey("\\Src", "\\Copy\\Below", false);
    EXPECT_EQ(tree(idOf("\\Copy\\Below")), before);
    EXPECT_EQ(tree(src), before);

    // An existing target or a missing source changes nothing.
    ASSERT_TRUE(reg.OpenKey("\\Taken", true));
    reg.WriteString("t", "t");
    reg.CloseKey();
    reg.MoveKey("\\Src", "\\Taken", true);
    reg.MoveKey("\\Missing", "\\Nowhere", true);
    EXPECT_EQ(tree(src), before);
    EXPECT_EQ(valueNames("\\Taken"), Names{"t"});
    EXPECT_EQ(subKeys("\\Taken"), Names{});
    EXPECT_FALSE(reg.KeyPresent("\\Nowhere"));

    // Deleting the source: the read-only subkey stays behind, the rest goes.
    reg.CloseKey();
    reg.MoveKey("\\Src", "\\Moved", true);
    EXPECT_EQ(tree(idOf("\\Moved")), before);
    EXPECT_EQ(subKeys("\\Src"), Names{"ReadOnly"});
    EXPECT_EQ(valueNames("\\Src").size(), 6u);
    EXPECT_EQ(valueNames("\\Src\\ReadOnly"), Names{"r"});

    // Relative paths, and a full move.
    ASSERT_TRUE(reg.OpenKey("\\Moved", false));
    reg.MoveKey("Sub", "Sub2", true);
    EXPECT_EQ(subKeys("\\Moved"), (Names{"k" + std::string(kCp932Geta), "ReadOnly", "Sub2"}));
    EXPECT_EQ(subKeys("\\Moved\\Sub2"), Names{"Deep"});
}

TEST_F(RegistryTest, MoveKeyRefusesToMoveAKeyBelowItself) {
    ASSERT_TRUE(reg.CreateKey("\\Top\\Mid\\Leaf"));
    const KeyId top = idOf("\\Top");
    const Names before = tree(top);
    reg.CloseKey();
    for (const char* target : {"\\Top\\Inside", "\\Top\\Mid\\Leaf\\Inside"}) {
        try {
            reg.MoveKey("\\Top", target, true);
        } catch (const RegistryError&) {
            // refusing with a message is fine; changing anything is not
        }
        EXPECT_EQ(tree(top), before) << target;
    }
    EXPECT_EQ(subKeys(""), Names{"Top"});
}

TEST_F(RegistryTest, DeleteKeyRemovesAsMuchOfTheSubtreeAsItCan) {
    ASSERT_TRUE(reg.CreateKey("\\T\\A\\B\\C"));
    ASSERT_TRUE(reg.CreateKey("\\T\\A\\D"));
    ASSERT_TRUE(reg.OpenKey("\\T\\A\\B", false));
    reg.WriteString("v", "v");
    ASSERT_TRUE(reg.CreateKey("\\Keep"));
    EXPECT_TRUE(reg.DeleteKey("\\T"));
    EXPECT_FALSE(reg.KeyPresent("\\T"));
    EXPECT_EQ(subKeys(""), Names{"Keep"});
    EXPECT_FALSE(reg.DeleteKey("\\T"));

    // Relative to the open key.
    ASSERT_TRUE(reg.CreateKey("\\Keep\\Sub\\X"));
    ASSERT_TRUE(reg.OpenKey("\\Keep", false));
    EXPECT_TRUE(reg.DeleteKey("Sub"));
    EXPECT_EQ(subKeys("\\Keep"), Names{});

    // A read-only or no-access key inside keeps itself and its parents.
    for (KeyAccess access : {KeyAccess::ReadOnly, KeyAccess::None}) {
        ASSERT_TRUE(reg.CreateKey("\\P\\Gone\\X"));
        ASSERT_TRUE(reg.CreateKey("\\P\\Locked\\Inner"));
        ASSERT_TRUE(reg.OpenKey("\\P", false));
        reg.WriteString("pv", "pv");
        const KeyId locked = idOf("\\P\\Locked");
        store->setAccess(locked, access);
        reg.CloseKey();
        EXPECT_FALSE(reg.DeleteKey("\\P"));
        EXPECT_EQ(subKeys("\\P"), Names{"Locked"});
        EXPECT_EQ(valueNames("\\P"), Names{"pv"});
        store->setAccess(locked, KeyAccess::Full);
        EXPECT_EQ(subKeys("\\P\\Locked"), Names{"Inner"});
        reg.CloseKey();
        EXPECT_TRUE(reg.DeleteKey("\\P"));
    }

    // The root itself is never deleted.
    ASSERT_TRUE(reg.OpenKey("\\Keep", false));
    EXPECT_FALSE(reg.DeleteKey(""));
    EXPECT_FALSE(reg.DeleteKey("\\"));
    reg.CloseKey();
    EXPECT_FALSE(reg.DeleteKey(""));
    EXPECT_FALSE(reg.DeleteKey("\\"));
    EXPECT_EQ(subKeys(""), Names{"Keep"});
}

TEST_F(RegistryTest, TrailByte5CIsPartOfItsCharacter) {
    const std::string hyo = sj("表"); // 95 5C
    const std::string soft = sj("ソフト");
    ASSERT_EQ(hyo, "\x95\x5C");
    ASSERT_TRUE(reg.CreateKey("\\" + hyo + "\\" + soft));
    EXPECT_EQ(subKeys(""), Names{hyo});
    EXPECT_EQ(subKeys("\\" + hyo), Names{soft});
    reg.CloseKey();
    ASSERT_TRUE(reg.OpenKey(hyo, false));
    ASSERT_TRUE(reg.OpenKey(soft, false));
    EXPECT_EQ(reg.CurrentPath(), hyo + "\\" + soft);
    EXPECT_TRUE(openKeyPath(reg, "HKEY_CURRENT_USER\\" + hyo + "\\" + soft));
    reg.CloseKey();
    EXPECT_TRUE(reg.DeleteKey("\\" + hyo));
    EXPECT_EQ(subKeys(""), Names{});
}
