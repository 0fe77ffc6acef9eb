#pragma once
// The quick search: whether a text occurs anywhere in the registry's data files, read as raw
// bytes. It says only whether, not where; the full search finds the place.
#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace klv {

// Byte search without regard to the case of A-Z. Each byte is folded on its own: the files are
// binary, with no character boundaries to respect, so a double-byte character whose second
// byte is a capital letter code matches its twin with the small letter code. Sunday's
// quick-search shifts skip most positions without a comparison.
class ByteSearch {
public:
    static constexpr std::size_t npos = std::string_view::npos;

    explicit ByteSearch(std::string_view text = {}) { setText(text); }
    // Computes both tables once for the text.
    void setText(std::string_view text);

    // Position of the first occurrence of the text in `bytes`, or npos. An empty text is found
    // at 0, even in empty bytes.
    std::size_t find(std::string_view bytes) const;
    bool foundIn(std::string_view bytes) const { return find(bytes) != npos; }

    unsigned char fold(unsigned char byte) const { return fold_[byte]; }
    // How far the window moves when the folded byte just past it is `folded`.
    std::size_t shift(unsigned char folded) const { return shift_[folded]; }
    const std::string& foldedText() const { return text_; }

private:
    bool matchesAt(const unsigned char* at) const;

    std::array<unsigned char, 256> fold_{};
    std::array<std::size_t, 256> shift_{};
    std::string text_; // folded
};

// Called between steps so that the windows stay alive.
using Pump = std::function<void()>;

// A file name mask ("*" any run, "?" any one character) compared with a name without regard
// to the case of ASCII letters. A mask without wildcards must equal the name.
bool fileNameMatches(std::string_view mask, std::string_view name);

// Looks through the files of one folder (not its sub-folders) for one that contains the text.
class FileFinder {
public:
    explicit FileFinder(std::filesystem::path folder, Pump pump = {});

    // The first file whose name matches `mask` and whose bytes contain the text, or nullopt.
    // A file that cannot be read counts as not containing it; a missing folder has no files.
    std::optional<std::filesystem::path> findContaining(std::string_view mask,
                                                        const ByteSearch& search) const;

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    Pump pump_;
};

// The registry's data files in the system folder, in the order they are scanned. Here
// SYSTEM.DAT is the store and USER.DAT is there only when a user put one there.
inline constexpr std::array<std::string_view, 2> kRegistryDataFiles = {"USER.DAT", "SYSTEM.DAT"};

// Brings the writes still waiting in the store's log into SYSTEM.DAT of `systemFolder`, so that
// the raw bytes hold a value written a moment ago. A store that cannot be opened is left as it
// is: the scan then reads what the file holds.
void flushRegistryStore(const std::filesystem::path& systemFolder);

// Scans USER.DAT, then SYSTEM.DAT, of `systemFolder` for `text` (CP932 bytes); true when one of
// them contains it.
bool quickSearchRegistry(const std::filesystem::path& systemFolder, std::string_view text,
                         const Pump& pump = {});

} // namespace klv
