// libFuzzer target: any bytes read as a Wine registry file (system.reg, user.reg, userdef.reg).
// Refused with WineFormatError or read; what is read is written, and that writing reads back
// and is written again as the same bytes.
#include "FuzzFolder.h"

#include "core/wine/WineRegFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using klv::wine::WineFormatError;
using klv::wine::WineKey;
using klv::wine::WineRegFile;

// A name or part of the relative path ending in NUL is written without that NUL, as Wine writes
// it: a name may then meet another when read again ("a\0" and "a"; "\0" and the default value).
bool hasTextEndingInNul(const WineRegFile& f) {
    for (std::size_t at = f.relativeTo.find(u'\0'); at != std::u16string::npos;
         at = f.relativeTo.find(u'\0', at + 1))
        if (at + 1 == f.relativeTo.size() || f.relativeTo[at + 1] == u'\\')
            return true;
    std::vector<const WineKey*> todo{&f.root()};
    while (!todo.empty()) {
        const WineKey* k = todo.back();
        todo.pop_back();
        if (!k->name.empty() && k->name.back() == u'\0')
            return true;
        for (const auto& v : k->values)
            if (!v.name.empty() && v.name.back() == u'\0')
                return true;
        todo.insert(todo.end(), k->subkeys.begin(), k->subkeys.end());
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::optional<WineRegFile> file;
    try {
        file = WineRegFile::parse(bytes);
    } catch (const WineFormatError&) {
        return 0;
    }
    if (hasTextEndingInNul(*file))
        return 0;
    const std::string once = file->write();
    std::string twice;
    bool readsBack = true; // false: the writer wrote something its own reader refuses
    try {
        twice = WineRegFile::parse(once).write();
    } catch (const WineFormatError&) {
        readsBack = false;
    }
    FUZZ_CHECK(readsBack);
    FUZZ_CHECK(once == twice);
    return 0;
}
