// A second process for the store's multi-process and crash tests. Key paths are below
// HKEY_CURRENT_USER; arguments are CP932 bytes.
//
//   klovante_store_child write <store> <key path> <value name> <text>
//   klovante_store_child read <store> <key path> <value name>      prints the text
//   klovante_store_child delete <store> <key path>                  prints "ready", then "done"
//   klovante_store_child move <store> <source path> <target path>   the same, MoveKey with delete
//   klovante_store_child bulk <store> <start>
//   klovante_store_child shmlock <store>                           prints "held" or "free"
//
// bulk runs transactions numbered start, start + 1, ... without end; transaction t creates
// Bulk\T<t>\K0 .. K<kBulkKeys - 1>, each with "t" = t (text) and "i" = i (integer), and after
// each commit prints how many transactions it has committed.
//
// shmlock tells whether another process holds SQLite's lock on the store's index file (the
// byte after the eight lock bytes of its "-shm" file), as every process with the store open
// does.
//
// Exit codes: 0 done, 1 error (on stderr), 2 bad command line, 3 key or value missing.
#include "core/platform/Encoding.h"
#include "core/registry/Registry.h"
#include "core/registry/RegistryError.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace klv;

namespace {

constexpr int kBulkKeys = 50;
constexpr int kPadBytes = 512; // makes the log grow, so that checkpoints happen during the runs

void say(const char* line) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int write(TRegistry& reg, const std::string& path, const std::string& name,
          const std::string& text) {
    if (!reg.OpenKey("\\" + path, true))
        throw RegistryError(msgCreateKeyFailed(path));
    reg.WriteString(name, text);
    return 0;
}

int read(TRegistry& reg, const std::string& path, const std::string& name) {
    if (!reg.OpenKey("\\" + path, false) || !reg.ValuePresent(name))
        return 3;
    say(reg.ReadText(name).c_str());
    return 0;
}

int bulk(Store& store, TRegistry& reg, long start) {
    const std::string pad(kPadBytes, 'p');
    for (long t = start;; ++t) {
        Store::Transaction txn(store);
        const std::string tx = "\\Bulk\\T" + std::to_string(t);
        for (int i = 0; i < kBulkKeys; ++i) {
            const std::string path = tx + "\\K" + std::to_string(i);
            if (!reg.OpenKey(path, true))
                throw RegistryError(msgCreateKeyFailed(path));
            reg.WriteString("t", std::to_string(t));
            reg.WriteInteger("i", static_cast<std::uint32_t>(i));
            reg.WriteBinary("pad", pad);
        }
        txn.commit();
        say(std::to_string(t - start + 1).c_str());
    }
}

int shmLock(const std::string& storeFile) {
    const std::string shm = storeFile + "-shm";
    const int fd = ::open(shm.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 3;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 128; // SQLite's index lock byte: 120 + 8 lock slots
    probe.l_len = 1;
    const int rc = ::fcntl(fd, F_GETLK, &probe);
    ::close(fd);
    if (rc != 0)
        return 1;
    say(probe.l_type == F_UNLCK ? "free" : "held");
    return 0;
}

int run(const std::vector<std::string>& a) {
    if (a.size() < 3)
        return 2;
    const std::string& cmd = a[1];
    if (cmd == "shmlock" && a.size() == 3)
        return shmLock(a[2]); // without opening the store: that would take the lock itself
    auto store = Store::open(a[2]);
    TRegistry reg(store);
    if (cmd == "write" && a.size() == 6)
        return write(reg, a[3], a[4], a[5]);
    if (cmd == "read" && a.size() == 5)
        return read(reg, a[3], a[4]);
    if (cmd == "delete" && a.size() == 4) {
        say("ready");
        const bool deleted = reg.DeleteKey("\\" + a[3]);
        say("done");
        return deleted ? 0 : 3;
    }
    if (cmd == "move" && a.size() == 5) {
        if (!reg.KeyPresent("\\" + a[3]))
            return 3;
        say("ready");
        reg.MoveKey("\\" + a[3], "\\" + a[4], true);
        say("done");
        return 0;
    }
    if (cmd == "bulk" && a.size() == 4)
        return bulk(*store, reg, std::strtol(a[3].c_str(), nullptr, 10));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    try {
        const int rc = run(args);
        if (rc == 2)
            std::fputs(
                "usage: klovante_store_child write|read|delete|move|bulk|shmlock <store> ...\n",
                stderr);
        return rc;
    } catch (const RegistryError& e) {
        std::fprintf(stderr, "klovante_store_child: %s\n", cp932ToUtf8(e.fullText()).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "klovante_store_child: %s\n", e.what());
    }
    return 1;
}
