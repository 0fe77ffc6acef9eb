#include "core/platform/TableReport.h"

namespace klv {

std::string csvField(std::string_view s) {
    if (s.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(s);
    std::string out = "\"";
    for (const char c : s) {
        // A double-byte character's second byte is never a quote (0x22 is below 0x40).
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

std::string csvLine(const ReportRow& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += ',';
        out += csvField(fields[i]);
    }
    return out + "\r\n";
}

std::string htmlText(std::string_view s) {
    // Only single bytes are looked at: CP932 second bytes start at 0x40, above all four.
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

std::string htmlTable(std::string_view title, std::string_view heading,
                      const std::vector<std::string>& headers, const std::vector<ReportRow>& rows) {
    std::string out = "<HTML>\r\n<HEAD><TITLE>";
    out += title;
    out += "</TITLE></HEAD>\r\n<BODY>\r\n<B>";
    out += heading;
    out += "</B><BR><BR>\r\n<TABLE BORDER>\r\n";
    for (const std::string& h : headers)
        out += "<TH>" + h + "</TH>";
    out += "<TR>\r\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        out += "<TD>";
        for (std::size_t f = 0; f < rows[i].size(); ++f) {
            if (f > 0)
                out += "</TD><TD>";
            out += htmlText(rows[i][f]);
        }
        out += "</TD>\r\n";
        out += i + 1 < rows.size() ? "<TR>\r\n" : "</TABLE>\r\n";
    }
    if (rows.empty())
        out += "</TABLE>\r\n";
    out += "</BODY>\r\n</HTML>\r\n";
    return out;
}

} // namespace klv
