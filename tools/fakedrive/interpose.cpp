// The C library calls that the CD layer makes on a drive's path and descriptor, taken
// over for the drives' paths and passed on unchanged for every other path and
// descriptor (the image readers' own files among them).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

#include "fake_drive.h"

namespace fakedrive {
namespace {

template <class Function>
Function Real(const char* Name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, Name));
}

// A drive reads as the block device of a SCSI CD-ROM (major 11), numbered by its place.
template <class StatBuffer>
void AsBlockDevice(StatBuffer* Info, int Drive) {
  Info->st_mode = (Info->st_mode & ~S_IFMT) | S_IFBLK;
  Info->st_rdev = makedev(11, static_cast<unsigned>(Drive));
  Info->st_size = 0;
}

// Runs the real call, then makes the answer a block device's when it concerns a drive.
template <class StatBuffer>
int Faked(int Result, StatBuffer* Info, int Drive, const char* Call) {
  if (Drive < 0 || Result != 0) return Result;
  Log("%s -> block device", Call);
  AsBlockDevice(Info, Drive);
  return Result;
}

int OpenDrive(int Drive, const char* Path, int Flags, const char* Call) {
  using OpenFunction = int (*)(const char*, int, ...);
  static const auto realOpen = Real<OpenFunction>("open");
  // The drive is only ever read through ioctls: its empty file opens for reading,
  // whatever access the caller asked for.
  const int fd = realOpen(Path, O_RDONLY | (Flags & O_CLOEXEC));
  Log("%s(%s, 0x%x) = %d", Call, Path, static_cast<unsigned>(Flags), fd);
  if (fd >= 0) RememberFd(fd, Drive);
  return fd;
}

// The mode argument is there only with O_CREAT or the whole of O_TMPFILE (which shares
// its bits with O_DIRECTORY).
mode_t ModeOf(int Flags, va_list Arguments) {
  const bool hasMode = (Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE;
  return hasMode ? static_cast<mode_t>(va_arg(Arguments, int)) : 0;
}

}  // namespace
}  // namespace fakedrive

using namespace fakedrive;

extern "C" {

__attribute__((visibility("default"))) int open(const char* Path, int Flags, ...) {
  va_list arguments;
  va_start(arguments, Flags);
  const mode_t mode = ModeOf(Flags, arguments);
  va_end(arguments);
  const int drive = DriveOfPath(Path);
  if (drive >= 0) return OpenDrive(drive, Path, Flags, "open");
  static const auto real = Real<int (*)(const char*, int, ...)>("open");
  return real(Path, Flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* Path, int Flags, ...) {
  va_list arguments;
  va_start(arguments, Flags);
  const mode_t mode = ModeOf(Flags, arguments);
  va_end(arguments);
  const int drive = DriveOfPath(Path);
  if (drive >= 0) return OpenDrive(drive, Path, Flags, "open64");
  static const auto real = Real<int (*)(const char*, int, ...)>("open64");
  return real(Path, Flags, mode);
}

__attribute__((visibility("default"))) int openat(int Dir, const char* Path, int Flags, ...) {
  va_list arguments;
  va_start(arguments, Flags);
  const mode_t mode = ModeOf(Flags, arguments);
  va_end(arguments);
  const int drive = ((Path[0] == '/' || Dir == AT_FDCWD)) ? DriveOfPath(Path) : -1;
  if (drive >= 0) return OpenDrive(drive, Path, Flags, "openat");
  static const auto real = Real<int (*)(int, const char*, int, ...)>("openat");
  return real(Dir, Path, Flags, mode);
}

__attribute__((visibility("default"))) int openat64(int Dir, const char* Path, int Flags, ...) {
  va_list arguments;
  va_start(arguments, Flags);
  const mode_t mode = ModeOf(Flags, arguments);
  va_end(arguments);
  const int drive = ((Path[0] == '/' || Dir == AT_FDCWD)) ? DriveOfPath(Path) : -1;
  if (drive >= 0) return OpenDrive(drive, Path, Flags, "openat64");
  static const auto real = Real<int (*)(int, const char*, int, ...)>("openat64");
  return real(Dir, Path, Flags, mode);
}

__attribute__((visibility("default"))) int close(int Fd) {
  static const auto real = Real<int (*)(int)>("close");
  if (DriveOfFd(Fd) >= 0) {
    Log("close(%d)", Fd);
    ForgetFd(Fd);
  }
  return real(Fd);
}

__attribute__((visibility("default"))) int ioctl(int Fd, unsigned long Request, ...) {
  va_list arguments;
  va_start(arguments, Request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  const int drive = DriveOfFd(Fd);
  if (drive >= 0) return DriveIoctl(drive, Request, argument);
  static const auto real = Real<int (*)(int, unsigned long, ...)>("ioctl");
  return real(Fd, Request, argument);
}

#define KORVANE_PATH_STAT(Name, Buffer, FollowLinks)                                       \
  __attribute__((visibility("default"))) int Name(const char* Path, struct Buffer* Info) { \
    static const auto real = Real<int (*)(const char*, struct Buffer*)>(#Name);            \
    return Faked(real(Path, Info), Info, DriveOfPath(Path, FollowLinks), #Name);           \
  }
KORVANE_PATH_STAT(stat, stat, true)
KORVANE_PATH_STAT(lstat, stat, false)
KORVANE_PATH_STAT(stat64, stat64, true)
KORVANE_PATH_STAT(lstat64, stat64, false)
#undef KORVANE_PATH_STAT

#define KORVANE_FD_STAT(Name, Buffer)                                            \
  __attribute__((visibility("default"))) int Name(int Fd, struct Buffer* Info) { \
    static const auto real = Real<int (*)(int, struct Buffer*)>(#Name);          \
    return Faked(real(Fd, Info), Info, DriveOfFd(Fd), #Name);                    \
  }
KORVANE_FD_STAT(fstat, stat)
KORVANE_FD_STAT(fstat64, stat64)
#undef KORVANE_FD_STAT

// The entry points that programs built against older C libraries call.
#define KORVANE_XSTAT(Name, Buffer, FollowLinks)                                          \
  __attribute__((visibility("default"))) int Name(int Version, const char* Path,          \
                                                  struct Buffer* Info) {                  \
    static const auto real = Real<int (*)(int, const char*, struct Buffer*)>(#Name);      \
    return Faked(real(Version, Path, Info), Info, DriveOfPath(Path, FollowLinks), #Name); \
  }
KORVANE_XSTAT(__xstat, stat, true)
KORVANE_XSTAT(__lxstat, stat, false)
KORVANE_XSTAT(__xstat64, stat64, true)
KORVANE_XSTAT(__lxstat64, stat64, false)
#undef KORVANE_XSTAT

__attribute__((visibility("default"))) int __fxstat(int Version, int Fd, struct stat* Info) {
  static const auto real = Real<int (*)(int, int, struct stat*)>("__fxstat");
  return Faked(real(Version, Fd, Info), Info, DriveOfFd(Fd), "__fxstat");
}

__attribute__((visibility("default"))) int __fxstat64(int Version, int Fd, struct stat64* Info) {
  static const auto real = Real<int (*)(int, int, struct stat64*)>("__fxstat64");
  return Faked(real(Version, Fd, Info), Info, DriveOfFd(Fd), "__fxstat64");
}

// A path relative to a directory other than the working one is never a drive's.
static int DriveAt(int Dir, const char* Path, int Flags) {
  if (Path && !*Path && (Flags & AT_EMPTY_PATH)) return DriveOfFd(Dir);
  const bool followLinks = !(Flags & AT_SYMLINK_NOFOLLOW);
  return (Path && (Path[0] == '/' || Dir == AT_FDCWD)) ? DriveOfPath(Path, followLinks) : -1;
}

__attribute__((visibility("default"))) int fstatat(int Dir, const char* Path, struct stat* Info,
                                                   int Flags) {
  static const auto real = Real<int (*)(int, const char*, struct stat*, int)>("fstatat");
  return Faked(real(Dir, Path, Info, Flags), Info, DriveAt(Dir, Path, Flags), "fstatat");
}

__attribute__((visibility("default"))) int fstatat64(int Dir, const char* Path, struct stat64* Info,
                                                     int Flags) {
  static const auto real = Real<int (*)(int, const char*, struct stat64*, int)>("fstatat64");
  return Faked(real(Dir, Path, Info, Flags), Info, DriveAt(Dir, Path, Flags), "fstatat64");
}

__attribute__((visibility("default"))) int statx(int Dir, const char* Path, int Flags,
                                                 unsigned int Mask, struct statx* Info) {
  static const auto real = Real<int (*)(int, const char*, int, unsigned, struct statx*)>("statx");
  const int result = real(Dir, Path, Flags, Mask, Info);
  const int drive = DriveAt(Dir, Path, Flags);
  if (drive < 0 || result != 0) return result;
  Log("statx -> block device");
  Info->stx_mode = static_cast<uint16_t>((Info->stx_mode & ~S_IFMT) | S_IFBLK);
  Info->stx_rdev_major = 11;
  Info->stx_rdev_minor = static_cast<uint32_t>(drive);
  Info->stx_size = 0;
  return result;
}

}  // extern "C"
