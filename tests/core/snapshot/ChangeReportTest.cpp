// The three report formats: their layout, the quoting of CSV fields, HTML that a real parser
// reads back cell by cell, and the file name's extension.
#include "core/platform/Encoding.h"
#include "core/snapshot/ChangeTracking.h"

#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

using namespace klv;

namespace {

std::vector<ChangeRow> sampleRows() {
    return {
        {ChangeState::Updated, sj("文字列"), "HKEY_CURRENT_USER\\A", "s", "a,b", "say \"hi\""},
        {ChangeState::Created, sj("文字列"), "HKEY_CURRENT_USER\\A", "t", sj("なし"),
         "<b>&amp;</b>"},
        {ChangeState::Deleted, sj("キー"), "HKEY_CURRENT_USER\\B", "", "", ""},
    };
}

// The text of every <TD> of the document, UTF-8, in order.
std::vector<std::string> cells(const std::string& html, int* errors) {
    int reported = 0;
    xmlSetStructuredErrorFunc(&reported,
                              [](void* count, xmlErrorPtr) { ++*static_cast<int*>(count); });
    htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
    htmlDocPtr doc = htmlCtxtReadMemory(ctxt, html.data(), static_cast<int>(html.size()), nullptr,
                                        "CP932", HTML_PARSE_NONET);
    *errors = ctxt->wellFormed ? 0 : 1;
    std::vector<std::string> out;
    const auto walk = [&](auto&& self, xmlNodePtr n) -> void {
        for (; n; n = n->next) {
            if (n->type == XML_ELEMENT_NODE &&
                xmlStrcasecmp(n->name, reinterpret_cast<const xmlChar*>("td")) == 0) {
                xmlChar* t = xmlNodeGetContent(n);
                out.emplace_back(reinterpret_cast<const char*>(t));
                xmlFree(t);
                continue;
            }
            self(self, n->children);
        }
    };
    if (doc)
        walk(walk, xmlDocGetRootElement(doc));
    xmlFreeDoc(doc);
    htmlFreeParserCtxt(ctxt);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    *errors += reported;
    return out;
}

} // namespace

TEST(ChangeReportTest, CsvAndTextLayouts) {
    const auto rows = sampleRows();
    EXPECT_EQ(cp932ToUtf8(changeReport(rows, ReportFormat::Csv)),
              "レジストリ変更箇所の追跡結果\r\n"
              "状態,形式,対象キー,値,検証前データ,現在のデータ\r\n"
              "更新,文字列,HKEY_CURRENT_USER\\A,s,\"a,b\",\"say \"\"hi\"\"\"\r\n"
              "新規作成,文字列,HKEY_CURRENT_USER\\A,t,なし,<b>&amp;</b>\r\n"
              "削除,キー,HKEY_CURRENT_USER\\B,,,\r\n");
    EXPECT_EQ(cp932ToUtf8(changeReport({rows[0]}, ReportFormat::Text)),
              "レジストリ変更箇所の追跡結果\r\n\r\n"
              "更新 - 文字列\r\nHKEY_CURRENT_USER\\A\r\ns\r\n前　a,b\r\n後　say \"hi\"\r\n\r\n");
}

TEST(ChangeReportTest, HtmlParsesBackToTheFields) {
    const auto rows = sampleRows();
    int errors = -1;
    const auto got = cells(changeReport(rows, ReportFormat::Html), &errors);
    EXPECT_EQ(errors, 0);
    std::vector<std::string> want;
    for (const ChangeRow& r : rows)
        for (const std::string& f :
             {changeStateText(r.state), r.type, r.key, r.name, r.before, r.after})
            want.push_back(cp932ToUtf8(f));
    EXPECT_EQ(got, want);
    // No rows: the table closes right after its header.
    const std::string empty = changeReport({}, ReportFormat::Html);
    EXPECT_NE(empty.find("<TR>\r\n</TABLE>\r\n</BODY>\r\n</HTML>\r\n"), std::string::npos);
    EXPECT_TRUE(cells(empty, &errors).empty());
    EXPECT_EQ(errors, 0);
}

TEST(ChangeReportTest, TheExtensionFollowsTheFormat) {
    EXPECT_EQ(reportFileName("/tmp/result", ReportFormat::Html), "/tmp/result.htm");
    EXPECT_EQ(reportFileName("/tmp/result.HTM", ReportFormat::Html), "/tmp/result.HTM");
    EXPECT_EQ(reportFileName("/tmp/result.htm", ReportFormat::Csv), "/tmp/result.htm.csv");
    EXPECT_EQ(reportFileName("/tmp/a.TXT", ReportFormat::Text), "/tmp/a.TXT");
}
