// Export and import of the generated registry in both file forms, set against a plain write of
// a file of the same size and against the store's own bulk load of the same registry.
#include "BenchUtil.h"

#include "core/regfiles/RegExporter.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/Store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace klv::bench {
namespace {

namespace fs = std::filesystem;

std::uint64_t count(Store& s, const char* table) {
    sqlite3_stmt* st = nullptr;
    const std::string sql = std::string("SELECT count(*) FROM ") + table;
    sqlite3_prepare_v2(s.db(), sql.c_str(), -1, &st, nullptr);
    std::uint64_t n = 0;
    if (sqlite3_step(st) == SQLITE_ROW)
        n = static_cast<std::uint64_t>(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return n;
}

// What the export does with its bytes, without producing them: big writes, flushed to the
// device, renamed into place.
double plainWrite(const fs::path& file, std::uint64_t size) {
    const std::string chunk(std::size_t{1} << 22, 'x');
    const fs::path temp = file.string() + ".tmp";
    Stopwatch sw;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw std::runtime_error("cannot write " + temp.string() + ": " + std::strerror(errno));
    for (std::uint64_t left = size; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
        if (::write(fd, chunk.data(), n) != static_cast<ssize_t>(n))
            throw std::runtime_error("write failed");
        left -= n;
    }
    ::fsync(fd);
    ::close(fd);
    fs::rename(temp, file);
    const double s = sw.seconds();
    fs::remove(file);
    return s;
}

void removeStore(const fs::path& file) {
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(file.string() + suffix);
}

struct FormResult {
    double exportSeconds = 0, writeSeconds = 0, importSeconds = 0;
    std::uint64_t bytes = 0;
};

FormResult runForm(Store& source, RegFileForm form, const fs::path& dir) {
    const char* name = form == RegFileForm::Unicode ? "Unicode" : "REGEDIT4";
    const fs::path file =
        dir / (form == RegFileForm::Unicode ? "export-unicode.reg" : "export-regedit4.reg");
    FormResult r;

    ExportOptions eo;
    eo.form = form;
    eo.rootCount = 6;
    source.dropCache();
    Stopwatch ew;
    const ExportReport er = RegExporter(source, eo).exportToFile(file, "");
    r.exportSeconds = ew.seconds();
    r.bytes = er.bytes;
    if (!er.losses.empty())
        throw std::runtime_error(std::string(name) + ": the export was not exact");
    r.writeSeconds = plainWrite(dir / "plain-write.bin", r.bytes);

    const fs::path target = dir / "import" / "SYSTEM.DAT";
    fs::create_directories(target.parent_path());
    removeStore(target);
    {
        auto store = Store::open(target);
        ImportOptions io;
        io.rootCount = 6;
        Stopwatch iw;
        const ImportReport ir = RegImporter(*store, io).importFile(file);
        sqlite3_wal_checkpoint_v2(store->db(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                  nullptr);
        r.importSeconds = iw.seconds();
        const std::uint64_t keys = count(*store, "keys"), values = count(*store, "vals");
        if (keys != count(source, "keys") || values != count(source, "vals"))
            throw std::runtime_error(std::string(name) + ": the import does not match the source");
        std::printf("%s: %llu keys and %llu values exported and imported back\n", name,
                    static_cast<unsigned long long>(ir.keys),
                    static_cast<unsigned long long>(ir.values));
    }
    removeStore(target);
    fs::remove(file);

    const double mb = static_cast<double>(r.bytes) / 1e6;
    std::printf("%s: file %.1f MB\n", name, mb);
    std::printf("%s: export %.2f s (%.0f MB/s), plain write %.2f s (%.0f MB/s), ratio %.2f\n", name,
                r.exportSeconds, mb / r.exportSeconds, r.writeSeconds, mb / r.writeSeconds,
                r.exportSeconds / r.writeSeconds);
    std::printf("%s: import %.2f s (%.0f MB/s)\n", name, r.importSeconds, mb / r.importSeconds);
    std::fflush(stdout);
    return r;
}

} // namespace

int runRegFiles(const Args& args) {
    if (args.positional.empty())
        throw std::runtime_error("regfiles needs a system folder");
    const fs::path dir = args.positional[0];
    fs::create_directories(dir);
    const SyntheticShape shape = shapeFromArgs(args);
    const fs::path file = storeFileIn(dir);
    const GenerateResult g = generateRegistry(file, shape);
    std::printf("generate (bulk load): %llu keys, %llu values in %.2f s\n",
                static_cast<unsigned long long>(g.keys), static_cast<unsigned long long>(g.values),
                g.seconds);
    std::fflush(stdout);

    auto source = Store::open(file, Store::Options{false, false});
    double worstExport = 0, worstImport = 0;
    for (RegFileForm form : {RegFileForm::Regedit4, RegFileForm::Unicode}) {
        const FormResult r = runForm(*source, form, dir);
        worstExport = std::max(worstExport, r.exportSeconds / r.writeSeconds);
        worstImport = std::max(worstImport, r.importSeconds / g.seconds);
    }
    std::printf("peak memory: %.0f MiB\n", peakMemoryMiB());
    std::printf("export/write ratio: %.2f\n", worstExport);
    std::printf("import/generate ratio: %.2f\n", worstImport);
    return 0;
}

} // namespace klv::bench
