// libFuzzer target: any bytes read as a Wine registry file (system.reg, user.reg, userdef.reg).
// Refused with WineFormatError or read; what is read is written, and that writing reads back
// and is written again as the same bytes.
#include "FuzzFolder.h"

#include "core/wine/WineRegFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using klv::wine::WineFormatError;
using klv::wine::WineRegFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::optional<WineRegFile> file;
    try {
        file = WineRegFile::parse(bytes);
    } catch (const WineFormatError&) {
        return 0;
    }
    if (file->hasNameEndingInNul())
        return 0; // written as Wine writes it, such a name may meet another when read again
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
