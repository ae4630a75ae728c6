// Preloaded into quillow-render by stops.sh. Once the program has renamed
// one of its temporary files ("quillow-…") over a target, the next close()
// raises SIGTERM: the signal lands just after the new files took their
// names and before the run ends, a moment a real signal hits only by
// chance.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>

namespace {

bool justRenamed = false;

template <typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int renameat(int oldFolder, const char *oldName, int newFolder, const char *newName)
{
    static const auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    const int result = real(oldFolder, oldName, newFolder, newName);
    if (result == 0 && strncmp(oldName, "quillow-", 8) == 0)
        justRenamed = true;
    return result;
}

extern "C" int close(int fd)
{
    static const auto real = next<int (*)(int)>("close");
    if (justRenamed) {
        justRenamed = false;
        raise(SIGTERM);
    }
    return real(fd);
}
