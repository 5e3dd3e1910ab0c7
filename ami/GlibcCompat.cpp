// Lets the Linux libraries load on glibc 2.17 and later, where most channel simulators run. The
// static C++ runtime refers to a few C library symbols that newer glibc versions introduced or
// re-versioned; each gets a hidden local definition here that forwards to the old version of the
// same function, or does the small job itself. Nothing here is exported.
#if defined(KT_STATIC_CXX_RUNTIME) && defined(__linux__) && defined(__x86_64__)

#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#define KT_HIDDEN __attribute__((visibility("hidden")))

extern "C" {

// The versions every x86-64 glibc has had since its first release.
int kt_fxstat64(int version, int fd, struct stat64* buffer);
__asm__(".symver kt_fxstat64,__fxstat64@GLIBC_2.2.5");
int kt_pthread_once(pthread_once_t* control, void (*routine)());
__asm__(".symver kt_pthread_once,pthread_once@GLIBC_2.2.5");
int kt_pthread_key_create(pthread_key_t* key, void (*destructor)(void*));
__asm__(".symver kt_pthread_key_create,pthread_key_create@GLIBC_2.2.5");

KT_HIDDEN int fstat64(int fd, struct stat64* buffer) noexcept {
    return kt_fxstat64(1, fd, buffer);  // 1: the x86-64 kernel stat layout
}

KT_HIDDEN int pthread_once(pthread_once_t* control, void (*routine)()) noexcept {
    return kt_pthread_once(control, routine);
}

KT_HIDDEN int __pthread_key_create(pthread_key_t* key, void (*destructor)(void*)) noexcept {
    return kt_pthread_key_create(key, destructor);
}

// 0: the runtime never assumes a single thread, which is always safe.
KT_HIDDEN char __libc_single_threaded = 0;

KT_HIDDEN int getentropy(void* buffer, std::size_t length) noexcept {
    if (length > 256) {
        errno = EIO;
        return -1;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const long got = syscall(SYS_getrandom, bytes, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        bytes += got;
        length -= static_cast<std::size_t>(got);
    }
    return 0;
}

KT_HIDDEN std::uint32_t arc4random() noexcept {
    std::uint32_t value = 0;
    while (getentropy(&value, sizeof value) != 0) {
    }
    return value;
}

}  // extern "C"

#endif
