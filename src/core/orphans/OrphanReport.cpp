// The two report formats of the orphan entry search.
#include "core/orphans/OrphanScan.h"
#include "core/platform/Encoding.h"
#include "core/platform/TableReport.h"

namespace klv {

std::string orphanReport(const std::vector<OrphanRow>& rows, OrphanReportFormat format) {
    std::vector<ReportRow> table;
    table.reserve(rows.size());
    for (const OrphanRow& r : rows)
        table.push_back({r.data, r.root, r.key, r.name, r.path});
    if (format == OrphanReportFormat::Html)
        return htmlTable(sj("孤立エントリの検索結果"), sj("レジストリの孤立エントリの検索結果"),
                         {sj("データ"), sj("ルートキー"), sj("キー"), sj("名前"), sj("判定パス")},
                         table);
    std::string out = sj("データ,ルートキー,キー,名前,判定パス") + "\r\n";
    for (const ReportRow& r : table)
        out += csvLine(r);
    return out;
}

} // namespace klv
