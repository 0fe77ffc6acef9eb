// libFuzzer target: registry files of any shape are read, imported into a store (inside a
// transaction that is rolled back), and whatever was imported is written out again in both
// forms and must read back without an error.
#include "core/regfiles/RegExporter.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegFileReader.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/RegistryError.h"
#include "core/registry/Store.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct Counter final : klv::RegFileSink {
    void openKey(const klv::RegKeyPath& p) override { check(p); }
    void deleteKey(const klv::RegKeyPath& p) override {
        check(p);
        if (p.components.empty())
            std::abort(); // a root is never handed on for deletion
    }
    void setValue(const klv::RawValue& v) override {
        if (v.dataWide && !klv::isTextType(v.type))
            std::abort();
        if (!v.name.wide && v.name.bytes.find('\0') != std::string::npos)
            std::abort(); // a NUL never gets past the reader
    }
    void deleteValue(const klv::StoredName&) override {}
    static void check(const klv::RegKeyPath& p) {
        if (p.root < 0 || p.root >= klv::kRootKeyCount)
            std::abort();
        for (const klv::StoredName& n : p.components)
            if (n.bytes.empty())
                std::abort(); // empty components collapse
    }
};

klv::Store& store() {
    static std::shared_ptr<klv::Store> s = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("klovante-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return klv::Store::open(dir / "SYSTEM.DAT");
    }();
    return *s;
}

void readsBack(const std::string& file) {
    Counter c;
    try {
        klv::RegFileReader(klv::kRootKeyCount).read(file, c);
    } catch (const klv::RegFileError&) {
        std::abort(); // the writer wrote something its own reader refuses
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Counter counter;
    try {
        klv::RegFileReader(klv::kRootKeyCount).read(bytes, counter);
    } catch (const klv::RegFileError&) {
        return 0;
    }
    klv::Store& s = store();
    klv::Store::Transaction outer(s); // never committed: every input starts from empty roots
    try {
        klv::ImportOptions io;
        io.rootCount = klv::kRootKeyCount;
        klv::RegImporter(s, io).importBytes(bytes, "fuzz.reg");
    } catch (const klv::RegistryError&) {
        return 0; // refused by the store (a limit): nothing more to check
    }
    for (klv::RegFileForm form : {klv::RegFileForm::Regedit4, klv::RegFileForm::Unicode}) {
        klv::ExportOptions eo;
        eo.form = form;
        eo.rootCount = klv::kRootKeyCount;
        eo.threads = 1; // other connections cannot see the open transaction
        std::string file;
        klv::RegExporter(s, eo).exportTo([&](std::string_view b) { file.append(b); }, "");
        readsBack(file);
    }
    return 0;
}
