// The value editors' rules: the DWORD dialog's linked forms, the expandable string's preview,
// the multi-string memo, and the OK procedure with its refusals.
#include "core/valueedit/ValueEdit.h"
#include "core/platform/Encoding.h"
#include "core/registry/RegistryError.h"
#include "support/RegistryFixture.h"

#include <gtest/gtest.h>
#include <map>

using namespace klv;

namespace {

TEST(ValueEditRulesTest, TheDwordFormsFollowEachOther) {
    const DwordForms all = dwordFromHex("FFFFFFFF");
    EXPECT_EQ(all.decimal, "4294967295");
    EXPECT_EQ(all.binary, std::string(32, '1'));
    EXPECT_EQ(dwordFromHex("ff").hex, "000000FF");
    EXPECT_EQ(dwordFromDecimal("").decimal, "0");
    const DwordForms big = dwordFromDecimal("9999999999");     // ten digits fit the field
    EXPECT_EQ(big.hex, "540BE3FF");                            // the 32 bits written
    EXPECT_EQ(big.binary, "01010100000010111110001111111111"); // its low 32 bits
    EXPECT_EQ(dwordFromBinary("101").decimal, "5");
    EXPECT_EQ(dwordFromBinary("1x1").decimal, "5");
}

TEST(ValueEditRulesTest, ThePreviewExpandsTheFirstVariableOnly) {
    const std::map<std::string, std::string> env{{"A", "alpha"}, {"B", "beta"}};
    auto lookup = [&](const std::string& n) -> std::optional<std::string> {
        auto it = env.find(n);
        return it == env.end() ? std::nullopt : std::optional(it->second);
    };
    EXPECT_EQ(expandFirstVariable("plain text", lookup), "plain text");
    EXPECT_EQ(expandFirstVariable("%A%\\x;%A%;%B%", lookup), "alpha\\x;alpha;%B%");
    EXPECT_EQ(expandFirstVariable("[%UNSET%]", lookup), "[]");
    EXPECT_EQ(expandFirstVariable("50%", lookup), "50%");
}

TEST(ValueEditRulesTest, TheMemoGivesItsLinesWithoutATrailingBreak) {
    EXPECT_EQ(multiStringLines("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(multiStringLines("a\nb"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(multiStringLines(""), std::vector<std::string>{});
}

TEST(ValueEditRulesTest, TheAssistantQuotesAndNumbersThePath) {
    EXPECT_EQ(assistedPath("C:\\x.dll", false, false, 3), "C:\\x.dll");
    EXPECT_EQ(assistedPath("C:\\x.dll", true, true, 3), "\"C:\\x.dll\",3");
    EXPECT_EQ(assistedPath("C:\\x.ico", false, true, -1), "C:\\x.ico,0"); // none clicked
}

class ValueEditTest : public test::RegistryFixture {};

TEST_F(ValueEditTest, TheOkProcedureWritesCreatesAndRefuses) {
    ValueEdit e;
    e.location = "HKEY_CURRENT_USER\\Made\\Deep";
    e.newMode = true;
    e.name = "Count";
    e.kind = EditedKind::Integer;
    e.text = "4294967297"; // above 32 bits: its low 32 bits are written
    EXPECT_EQ(commitValueEdit(reg, e), EditResult::Committed);
    ASSERT_TRUE(reg.OpenKey("\\Made\\Deep", false)); // the key was made on the way
    EXPECT_EQ(reg.ReadDword("Count"), 1u);

    // A new value of a name that exists writes nothing; another letter case is not caught.
    e.text = "7";
    EXPECT_EQ(commitValueEdit(reg, e), EditResult::NameClash);
    ASSERT_TRUE(reg.OpenKey("\\Made\\Deep", false));
    EXPECT_EQ(reg.ReadDword("Count"), 1u);
    e.name = "count";
    EXPECT_EQ(commitValueEdit(reg, e), EditResult::Committed);
    ASSERT_TRUE(reg.OpenKey("\\Made\\Deep", false));
    EXPECT_EQ(reg.ReadDword("Count"), 7u);

    // Edit mode: unchanged data is written again but commits nothing.
    ValueEdit s;
    s.location = "HKEY_CURRENT_USER\\Made";
    s.name = "";
    s.text = sj("既定");
    EXPECT_EQ(commitValueEdit(reg, s), EditResult::Unchanged);
    s.modified = true;
    s.kind = EditedKind::MultiString;
    s.lines = {"x", "y"};
    EXPECT_EQ(commitValueEdit(reg, s), EditResult::Committed);
    std::vector<std::string> lines;
    ASSERT_TRUE(reg.OpenKey("\\Made", false));
    reg.ReadMultiText("", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"x", "y"}));
}

TEST_F(ValueEditTest, AWriteTheRegistryRefusesCommitsNothing) {
    ValueEdit e;
    e.location = "HKEY_CURRENT_USER\\Refuse";
    e.newMode = true;
    e.name = std::string(kMaxValueNameBytes + 1, 'n');
    e.text = "data";
    EXPECT_THROW(commitValueEdit(reg, e), RegistryError);
    test::Names names;
    ASSERT_TRUE(reg.OpenKey("\\Refuse", false));
    reg.ListValues(names);
    EXPECT_TRUE(names.empty());

    ASSERT_TRUE(reg.CreateKey("\\Locked"));
    store->setAccess(idOf("\\Locked"), KeyAccess::ReadOnly);
    e.location = "HKEY_CURRENT_USER\\Locked";
    e.name = "v";
    EXPECT_THROW(commitValueEdit(reg, e), RegistryError);
    e.location = "NOT_A_ROOT\\x";
    EXPECT_THROW(commitValueEdit(reg, e), RegistryError);
}

} // namespace
