#pragma once
// What the printing facility is told about a page: header and footer, font, columns, line
// numbers and margins. Texts are CP932.
#include <ctime>
#include <string>

namespace klv {

// Where a header or footer stands on its row; None leaves the row out.
enum class PrintPosition { None, Left, Center, Right };

struct PageSetup {
    std::string header = "%y/%m/%d";
    PrintPosition headerPosition = PrintPosition::Right;
    std::string footer = "- %p -";
    PrintPosition footerPosition = PrintPosition::Center;
    // Empty: the desktop's fixed-pitch font.
    std::string fontName;
    int fontSize = 10; // points
    int columns = 1;
    // The gap between columns, counted in half-width characters of the font.
    int columnSpacing = 4;
    bool lineNumbers = false;
    // Millimetres from the paper's edges.
    int marginLeft = 10;
    int marginRight = 10;
    int marginTop = 10;
    int marginBottom = 10;

    bool operator==(const PageSetup&) const = default;
};

// The ranges the printing facility accepts.
inline constexpr int kMinColumns = 1;
inline constexpr int kMaxColumns = 3;
inline constexpr int kMaxColumnSpacing = 100;
inline constexpr int kMaxMargin = 100; // mm
inline constexpr int kMinFontSize = 4;
inline constexpr int kMaxFontSize = 72;

// `setup` with every number brought into its range.
PageSetup clampedSetup(PageSetup setup);

// What the header and footer keywords stand for on one page.
struct PageKeywords {
    int page = 1;
    std::string filePath; // CP932; may be empty
    std::tm time{};
};

// Expands "%p" (page number), "%f" (file name with its path), "%F" (file name alone), "%y"
// (four-digit year), "%m", "%d" (two-digit month and day), "%t" ("hh:nn") and "%%" (a percent
// sign). Any other "%x", and a "%" at the end, stay as written.
std::string expandPageKeywords(const std::string& text, const PageKeywords& keywords);

// The file name alone: what follows the last "/" or "\" (a "\" that is the second byte of a
// double-byte character does not count).
std::string fileNameOnly(const std::string& path);

} // namespace klv
