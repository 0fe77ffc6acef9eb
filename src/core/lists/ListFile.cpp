#include "core/lists/ListFile.h"

#include "core/platform/AtomicFile.h"
#include "core/platform/Encoding.h"

#include <cstdint>
#include <optional>

namespace klv {
namespace {

constexpr std::string_view kMagic = "LVF";

[[noreturn]] void tooLarge(const std::string& what) {
    throw ListFileError(ListFileError::Kind::TooLarge, what);
}

void put16(std::string& out, std::size_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void putText(std::string& out, const std::string& text) {
    if (text.size() > kMaxListText)
        tooLarge(sj("リストの項目が長すぎるため保存できません（1 項目 65535 バイトまで）"));
    put16(out, text.size());
    out += text;
}

class Reader {
public:
    explicit Reader(std::string_view bytes) : b_(bytes) {}

    std::size_t get16() {
        need(2);
        const auto v = static_cast<std::size_t>(byte(0) | (byte(1) << 8));
        pos_ += 2;
        return v;
    }
    std::int32_t get32() {
        need(4);
        const std::uint32_t v = byte(0) | (byte(1) << 8) | (byte(2) << 16) |
                                (static_cast<std::uint32_t>(byte(3)) << 24);
        pos_ += 4;
        return static_cast<std::int32_t>(v);
    }
    std::string getText() {
        const std::size_t n = get16();
        need(n);
        std::string_view t = b_.substr(pos_, n);
        pos_ += n;
        if (const auto nul = t.find('\0'); nul != std::string_view::npos)
            t = t.substr(0, nul);
        return std::string(t);
    }
    bool atEnd() const { return pos_ == b_.size(); }

private:
    std::uint32_t byte(std::size_t i) const { return static_cast<unsigned char>(b_[pos_ + i]); }
    void need(std::size_t n) const {
        if (b_.size() - pos_ < n)
            throw ListFileError(ListFileError::Kind::Damaged,
                                sj("ファイルが途中で切れています。リストは読み込みませんでした"));
    }

    std::string_view b_;
    std::size_t pos_ = kMagic.size();
};

} // namespace

std::string encodeListFile(const std::vector<ListRow>& rows) {
    if (rows.size() > kMaxListRows)
        tooLarge(sj("リストの項目が多すぎるため保存できません（65535 項目まで）"));
    std::string out(kMagic);
    put16(out, rows.size());
    for (const ListRow& r : rows) {
        if (r.subItems.size() > 0xFFFF)
            tooLarge(sj("リストの列が多すぎるため保存できません"));
        put16(out, r.subItems.size());
        const auto image = static_cast<std::uint32_t>(r.image);
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<char>((image >> shift) & 0xFF));
        putText(out, r.caption);
        for (const std::string& s : r.subItems)
            putText(out, s);
    }
    return out;
}

std::vector<ListRow> decodeListFile(std::string_view bytes) {
    if (!bytes.starts_with(kMagic))
        throw ListFileError(ListFileError::Kind::Missing, sj("ファイルが存在しません"));
    Reader in(bytes);
    const std::size_t n = in.get16();
    std::vector<ListRow> rows;
    rows.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        ListRow r;
        const std::size_t s = in.get16();
        r.image = in.get32();
        r.caption = in.getText();
        r.subItems.reserve(s);
        for (std::size_t j = 0; j < s; ++j)
            r.subItems.push_back(in.getText());
        rows.push_back(std::move(r));
    }
    // Bytes after the last row mean the count does not describe the file (a count that
    // wrapped past 65535, or two files run together): nothing of it can be trusted.
    if (!in.atEnd())
        throw ListFileError(ListFileError::Kind::Damaged,
                            sj("ファイルの内容が壊れています。リストは読み込みませんでした"));
    return rows;
}

std::vector<ListRow> loadListFile(const std::filesystem::path& file) {
    std::optional<std::string> bytes;
    try {
        bytes = readFileBytes(file);
    } catch (const FileError& e) {
        throw ListFileError(ListFileError::Kind::Io, e.what());
    }
    if (!bytes)
        throw ListFileError(ListFileError::Kind::Missing, sj("ファイルが存在しません"));
    return decodeListFile(*bytes);
}

namespace {

// A file in the list's place that is no whole list file (cut short, another program's file, or
// one that cannot be read) holds what the list could not load: it is kept beside the new list
// as "<name>.BAD" ("<name>.BAD2", ... when taken) rather than written over.
void keepRefusedFile(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec)))
        return;
    try {
        const std::optional<std::string> bytes = readFileBytes(file);
        if (!bytes || bytes->empty())
            return; // nothing in it to lose
        decodeListFile(*bytes);
        return;
    } catch (const ListFileError&) {
    } catch (const FileError&) {
    }
    for (int n = 1; n < 1000; ++n) {
        std::filesystem::path kept = file;
        kept += n == 1 ? ".BAD" : ".BAD" + std::to_string(n);
        if (std::filesystem::exists(std::filesystem::symlink_status(kept, ec)))
            continue;
        std::filesystem::rename(file, kept, ec);
        if (!ec)
            return;
        break;
    }
    throw ListFileError(ListFileError::Kind::Io,
                        sj("ファイル ") + pathForMessage(file) +
                            sj(" はリストとして読めないため、書き換えずに残しました"));
}

} // namespace

void saveListFile(const std::filesystem::path& file, const std::vector<ListRow>& rows) {
    const std::string bytes = encodeListFile(rows);
    keepRefusedFile(file);
    try {
        writeFileAtomically(file, bytes);
    } catch (const FileError& e) {
        throw ListFileError(ListFileError::Kind::Io, e.what());
    }
}

} // namespace klv
