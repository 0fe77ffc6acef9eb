#pragma once
// The list file format of the function panel's lists (UNDO.DAT, FAVORITE.DAT, HISTRY.DAT,
// VALUE.DAT): "LVF", a 16-bit row count, then per row its sub-item count, its image index, its
// caption and its sub-items, each text a 16-bit byte count and CP932 bytes. All integers are
// little-endian.
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace klv {

struct ListRow {
    int image = 0;
    std::string caption;               // first column, CP932
    std::vector<std::string> subItems; // the columns after the first, CP932
    bool operator==(const ListRow&) const = default;
};

// The count fields are 16 bits wide.
inline constexpr std::size_t kMaxListRows = 65535;
inline constexpr std::size_t kMaxListText = 65535;

// what() is the CP932 message for the box captioned "I/O Error".
class ListFileError : public std::runtime_error {
public:
    enum class Kind {
        Missing,  // no file, or not a list file: "ファイルが存在しません"
        Damaged,  // cut short or with bytes the format does not explain
        TooLarge, // more rows or longer texts than the format can hold
        Io,       // the system refused to read or write it
    };
    ListFileError(Kind kind, std::string message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// The caption of the box that shows a ListFileError.
inline constexpr const char* kListFileErrorCaption = "I/O Error";

// The bytes of a list file. Throws ListFileError (TooLarge) rather than wrap a count.
std::string encodeListFile(const std::vector<ListRow>& rows);
// The rows of list file bytes, whole or not at all. Texts are cut at their first NUL byte.
std::vector<ListRow> decodeListFile(std::string_view bytes);

// Reads a list file; throws ListFileError and never returns part of a list.
std::vector<ListRow> loadListFile(const std::filesystem::path& file);
// Replaces a list file atomically; on any failure the old file stays as it was. A file in its
// place that is no whole list file (one that loading refused) is first renamed "<name>.BAD",
// so that what the list could not load is not lost.
void saveListFile(const std::filesystem::path& file, const std::vector<ListRow>& rows);

} // namespace klv
