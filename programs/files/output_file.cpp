#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>

namespace tav {

namespace {

// The named temporary while it exists, for the signal handler (which may use
// nothing but async-signal-safe calls, hence a fixed buffer).
char g_temp_name[4096];

extern "C" void remove_temp_and_die(int sig) {
  remove_temporary_output();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::string directory_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "PATH.xxxxxx" with a random suffix, for a name that is tried and dropped
// if it exists.
std::string random_sibling(const std::string& path) {
  static std::mt19937_64 rng{std::random_device{}()};
  static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = path + ".";
  for (int i = 0; i < 6; ++i) name += digits[rng() % (sizeof digits - 1)];
  return name;
}

int write_fully(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// Renames without replacing: the rename itself fails with EEXIST.  Where the
// filesystem lacks RENAME_NOREPLACE, link+unlink gives the same guarantee.
int rename_no_replace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(from, to) != 0) return errno;
  ::unlink(from);
  return 0;
}

}  // namespace

int OutputFile::open(const std::string& path, bool replace) {
  discard();
  path_ = path;
  replace_ = replace;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) != 0) {
    if (errno != ENOENT) return errno;
    return open_temporary(path);
  }
  if (S_ISDIR(lst.st_mode)) return EISDIR;
  if (S_ISREG(lst.st_mode)) {
    existed_ = true;
    if (!replace) return EEXIST;
    return open_temporary(path);
  }
  // A symlink, a device, a FIFO, a socket: through the path, in place.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    existed_ = S_ISREG(st.st_mode);
    if (existed_ && !replace) return EEXIST;
  }
  return open_in_place(path);
}

int OutputFile::open_in_place(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd_ < 0) return errno;
  in_place_ = true;
  return 0;
}

int OutputFile::open_temporary(const std::string& path) {
  fd_ = ::open(directory_of(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return 0;
  // Old kernels report a missing O_TMPFILE as EISDIR, filesystems without it
  // as EOPNOTSUPP: fall back to a named file.  Other errors are the path's.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  const std::string pattern = path + ".XXXXXX";
  if (pattern.size() >= sizeof g_temp_name) return ENAMETOOLONG;
  std::memcpy(g_temp_name, pattern.c_str(), pattern.size() + 1);
  fd_ = ::mkostemp(g_temp_name, O_CLOEXEC);
  if (fd_ < 0) {
    const int err = errno;
    g_temp_name[0] = '\0';
    return err;
  }
  temp_name_ = g_temp_name;
  return 0;
}

bool OutputFile::in_place_regular() const {
  struct stat st {};
  return in_place_ && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

std::FILE* OutputFile::stream() {
  if (f_ == nullptr && fd_ >= 0) f_ = ::fdopen(fd_, in_place_ ? "wb" : "w+b");
  return f_;
}

int OutputFile::rewrite(const uint8_t* data, size_t size) {
  if (f_ != nullptr && std::fflush(f_) != 0) return errno;
  if (in_place_regular() && (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) < 0)) return errno;
  return write_fully(fd_, data, size);
}

// Links the unnamed temporary at `dest`; fails with EEXIST if `dest` exists.
// AT_EMPTY_PATH needs a capability most users lack; /proc/self/fd does not.
int OutputFile::link_unnamed(const std::string& dest) const {
  if (::linkat(fd_, "", AT_FDCWD, dest.c_str(), AT_EMPTY_PATH) == 0) return 0;
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, dest.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  return errno;
}

int OutputFile::close_stream() {
  const int closed = f_ != nullptr ? std::fclose(f_) : ::close(fd_);
  const int err = closed != 0 ? errno : 0;
  f_ = nullptr;
  fd_ = -1;
  return err;
}

// The named temporary goes to the path: renamed over it, or renamed only if
// the path is still free.
int OutputFile::place_named() {
  const int err = replace_ ? (std::rename(temp_name_.c_str(), path_.c_str()) == 0 ? 0 : errno)
                           : rename_no_replace(temp_name_.c_str(), path_.c_str());
  if (err != 0) return err;
  g_temp_name[0] = '\0';
  temp_name_.clear();
  return 0;
}

int OutputFile::commit(mode_t mode, bool may_replace) {
  if (fd_ < 0) return EBADF;
  replace_ = replace_ && may_replace;
  if (f_ != nullptr && std::fflush(f_) != 0) return errno;
  if (in_place_) return close_stream();
  if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0) return errno;
  if (!temp_name_.empty()) {
    if (const int err = close_stream(); err != 0) return err;
    return place_named();
  }
  if (!replace_) {
    if (const int err = link_unnamed(path_); err != 0) return err;
    return close_stream();
  }
  // An unnamed file cannot be renamed: link it under a fresh name first.  That
  // name is the named temporary until the rename, so a signal removes it.  It
  // is announced to the handler only once it is ours: a signal in between
  // leaves a stray name rather than removing another process's file.
  for (int attempt = 0;; ++attempt) {
    const std::string name = random_sibling(path_);
    if (name.size() >= sizeof g_temp_name) return ENAMETOOLONG;
    const int err = link_unnamed(name);
    if (err == 0) {
      std::memcpy(g_temp_name, name.c_str(), name.size() + 1);
      temp_name_ = name;
      break;
    }
    if (err != EEXIST || attempt == 100) return err;
  }
  if (const int err = close_stream(); err != 0) return err;
  return place_named();
}

void OutputFile::discard() {
  if (fd_ >= 0) close_stream();
  if (!temp_name_.empty()) {
    ::unlink(temp_name_.c_str());
    g_temp_name[0] = '\0';
    temp_name_.clear();
  }
  in_place_ = existed_ = false;
}

std::string write_new_file(const std::string& base, const uint8_t* data, size_t size, mode_t mode) {
  for (int k = 1; k < 100; ++k) {
    const std::string name = k == 1 ? base : base + "." + std::to_string(k);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return "";
    }
    int err = write_fully(fd, data, size);
    if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0) return name;
    ::unlink(name.c_str());
    errno = err;
    return "";
  }
  errno = EEXIST;
  return "";
}

void catch_fatal_signals() {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = remove_temp_and_die;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
  }
}

void remove_temporary_output() {
  if (g_temp_name[0] != '\0') ::unlink(g_temp_name);
}

bool same_file(int fd, const std::string& path) {
  struct stat a {}, b {};
  if (::fstat(fd, &a) != 0 || ::stat(path.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

mode_t default_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace tav
