#include "core/platform/MappedFile.h"

#include "core/platform/Encoding.h"
#include "core/regfiles/RegFileError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace klv {
namespace {

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

[[noreturn]] void cannotRead(const std::filesystem::path& path, int err) {
    throw RegFileError(pathText(path), 0,
                       sj("ファイルを読み込めません（") + std::strerror(err) + sj("）"));
}

} // namespace

MappedFile::MappedFile(const std::filesystem::path& path) {
    Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (f.fd < 0)
        cannotRead(path, errno);
    struct stat st {};
    if (::fstat(f.fd, &st) != 0)
        cannotRead(path, errno);
    if (S_ISDIR(st.st_mode))
        cannotRead(path, EISDIR);
    if (S_ISREG(st.st_mode)) {
        size_ = static_cast<std::size_t>(st.st_size);
        if (size_ == 0)
            return;
        void* m = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, f.fd, 0);
        if (m != MAP_FAILED) {
            ::madvise(m, size_, MADV_SEQUENTIAL);
            map_ = m;
            data_ = static_cast<const char*>(m);
            return;
        }
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(f.fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            cannotRead(path, errno);
        if (n == 0)
            break;
        fallback_.append(chunk, static_cast<std::size_t>(n));
    }
    data_ = fallback_.data();
    size_ = fallback_.size();
}

MappedFile::~MappedFile() {
    if (map_)
        ::munmap(map_, size_);
}

} // namespace klv
