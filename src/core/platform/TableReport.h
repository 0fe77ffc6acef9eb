#pragma once
// Reports of result lists as comma-separated text and as an HTML table (CP932, CR LF lines),
// shared by the tools that save their lists. Fields are quoted or escaped where they would
// otherwise break the file.
#include <string>
#include <string_view>
#include <vector>

namespace klv {

using ReportRow = std::vector<std::string>;

// A CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line break.
std::string csvField(std::string_view s);
// One line of fields joined by ",", with its CR LF.
std::string csvLine(const ReportRow& fields);
// Text in HTML: <, >, & and " as entities.
std::string htmlText(std::string_view s);
// The page: <HTML>, the title, <BODY>, the bold heading, a bordered table with the header
// cells and one row per line, each row followed by "<TR>" but the last by "</TABLE>".
std::string htmlTable(std::string_view title, std::string_view heading,
                      const std::vector<std::string>& headers, const std::vector<ReportRow>& rows);

} // namespace klv
