#pragma once
// A prepared statement kept for the life of its connection. Every use goes through a Use,
// which resets the statement on every way out.
#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace klv {

// Throws the StoreError that matches an SQLite result code.
[[noreturn]] void throwSqlError(sqlite3* db, int rc);

class SqlStatement {
public:
    SqlStatement(sqlite3* db, const char* sql);
    ~SqlStatement() { sqlite3_finalize(st_); }
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    class Use {
    public:
        explicit Use(SqlStatement& s) : s_(s) {}
        ~Use() {
            sqlite3_reset(s_.st_);
            sqlite3_clear_bindings(s_.st_);
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

        Use& bind(int i, std::int64_t v) {
            check(sqlite3_bind_int64(s_.st_, i, v));
            return *this;
        }
        // The bytes must outlive the step.
        Use& bindBlob(int i, std::string_view v) {
            check(sqlite3_bind_blob(s_.st_, i, v.empty() ? "" : v.data(),
                                    static_cast<int>(v.size()), SQLITE_STATIC));
            return *this;
        }
        // True for a row, false when done; throws on failure.
        bool step() {
            int rc = sqlite3_step(s_.st_);
            if (rc == SQLITE_ROW)
                return true;
            if (rc == SQLITE_DONE)
                return false;
            throwSqlError(s_.db_, rc);
        }
        void run() {
            while (step()) {
            }
        }
        std::int64_t i64(int col) const { return sqlite3_column_int64(s_.st_, col); }
        std::string_view blob(int col) const {
            const void* p = sqlite3_column_blob(s_.st_, col);
            int n = sqlite3_column_bytes(s_.st_, col);
            return p ? std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n))
                     : std::string_view{};
        }

    private:
        void check(int rc) {
            if (rc != SQLITE_OK)
                throwSqlError(s_.db_, rc);
        }
        SqlStatement& s_;
    };

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

} // namespace klv
