// The three report formats of the change-tracking results.
#include "core/platform/Encoding.h"
#include "core/snapshot/ChangeTracking.h"

#include <array>

namespace klv {

namespace {

const char* extensionOf(ReportFormat f) {
    return f == ReportFormat::Csv ? ".csv" : f == ReportFormat::Text ? ".txt" : ".htm";
}

// A field that would break its line or split into two columns is quoted; the rest stay as
// they are.
std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        // A double-byte character's second byte is never a quote (0x22 is below 0x40).
        if (s[i] == '"')
            out += '"';
        out += s[i];
    }
    return out + '"';
}

// Text in HTML: the markup characters as entities. Only single bytes are looked at: CP932
// second bytes start at 0x40, above all four.
std::string html(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::array<std::string, 6> fieldsOf(const ChangeRow& r) {
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
        for (const ChangeRow& r : rows) {
            const auto fields = fieldsOf(r);
            std::string l = csvField(fields[0]);
            for (std::size_t i = 1; i < fields.size(); ++i)
                l += "," + csvField(fields[i]);
            line(l);
        }
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
    case ReportFormat::Html:
        line("<HTML>");
        line(sj("<HEAD><TITLE>") + title + "</TITLE></HEAD>");
        line("<BODY>");
        line("<B>" + title + "</B><BR><BR>");
        line("<TABLE BORDER>");
        line(sj("<TH>状態</TH><TH>形式</TH><TH>対象キー</TH><TH>値</TH><TH>検証前データ</TH>"
                "<TH>現在のデータ</TH><TR>"));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            std::string l = "<TD>";
            bool first = true;
            for (const std::string& f : fieldsOf(rows[i])) {
                if (!first)
                    l += "</TD><TD>";
                first = false;
                l += html(f);
            }
            line(l + "</TD>");
            line(i + 1 < rows.size() ? "<TR>" : "</TABLE>");
        }
        if (rows.empty())
            line("</TABLE>");
        line("</BODY>");
        line("</HTML>");
        break;
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
