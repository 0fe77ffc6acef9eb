// The three report formats of the change-tracking results.
#include "core/platform/Encoding.h"
#include "core/platform/TableReport.h"
#include "core/snapshot/ChangeTracking.h"

namespace klv {

namespace {

const char* extensionOf(ReportFormat f) {
    return f == ReportFormat::Csv ? ".csv" : f == ReportFormat::Text ? ".txt" : ".htm";
}

ReportRow fieldsOf(const ChangeRow& r) {
    return {changeStateText(r.state), r.type, r.key, r.name, r.before, r.after};
}

} // namespace

std::string changeReport(const std::vector<ChangeRow>& rows, ReportFormat format) {
    const std::string title = sj("レジストリ変更箇所の追跡結果");
    std::string out;
    const auto line = [&out](const std::string& s) {
        out += s;
        out += "\r\n";
    };
    switch (format) {
    case ReportFormat::Csv:
        line(title);
        line(sj("状態,形式,対象キー,値,検証前データ,現在のデータ"));
        for (const ChangeRow& r : rows)
            out += csvLine(fieldsOf(r));
        break;
    case ReportFormat::Text:
        line(title);
        line({});
        for (const ChangeRow& r : rows) {
            line(changeStateText(r.state) + " - " + r.type);
            line(r.key);
            line(r.name);
            line(sj("前　") + r.before);
            line(sj("後　") + r.after);
            line({});
        }
        break;
    case ReportFormat::Html: {
        std::vector<ReportRow> table;
        for (const ChangeRow& r : rows)
            table.push_back(fieldsOf(r));
        out = htmlTable(title, title,
                        {sj("状態"), sj("形式"), sj("対象キー"), sj("値"), sj("検証前データ"),
                         sj("現在のデータ")},
                        table);
        break;
    }
    }
    return out;
}

std::filesystem::path reportFileName(const std::filesystem::path& chosen, ReportFormat format) {
    const std::string want = extensionOf(format);
    if (equalsAsciiNoCase(chosen.extension().string(), want))
        return chosen;
    std::filesystem::path out = chosen;
    out += want;
    return out;
}

} // namespace klv
