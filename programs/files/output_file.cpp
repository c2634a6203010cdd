#include "output_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

// The links of /proc (/proc/self/fd/N, and /dev/stdout and /dev/fd/N, which
// lead there) name open files, which may be pipes or terminals, or files
// another program opened: they are written through, never replaced.
bool in_proc(const std::string& directory) {
  struct statfs fs {};
  return ::statfs(directory.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// What the symbolic link `link` holds.  Returns 0 or an errno value.
int read_link(const std::string& link, std::string& text) {
  for (size_t size = 256;; size *= 2) {
    text.resize(size);
    const ssize_t n = ::readlink(link.c_str(), text.data(), size);
    if (n < 0) return errno;
    if (static_cast<size_t>(n) < size) {
      text.resize(static_cast<size_t>(n));
      return 0;
    }
  }
}

// Follows the symbolic links that `path` ends with: `target` receives the
// name the last one gives (which may not exist), or `path` itself when it
// names no link.  `through_proc` is set instead when a link lives in /proc.
// Returns 0 or an errno value.
int follow_links(const std::string& path, std::string& target, bool& through_proc) {
  std::string name = path;
  for (int hops = 0; hops <= 40; ++hops) {
    struct stat st {};
    // A name that cannot be examined is left to the caller, which says why.
    if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = name;
      return 0;
    }
    const std::string directory = directory_of(name);
    if (in_proc(directory)) {
      through_proc = true;
      return 0;
    }
    std::string text;
    if (const int err = read_link(name, text); err != 0) return err;
    name = text.starts_with('/') ? text : directory + "/" + text;
  }
  return ELOOP;
}

// Gives the file open on `fd` the attributes of `source`, as gzip and xz
// give them: owner and group where they can be copied (root; anyone for a
// group they belong to), the permission bits, and with `times` the access
// and modification times.  The setuid, setgid and sticky bits stay only
// with the owner and group they were set for; a group that cannot be copied
// gets no more than the others may have, so no one reads the copy who could
// not read the source.  For a source that is no regular file (a pipe, a
// terminal), 0666 less the umask and nothing more.  Returns 0 or an errno
// value.
int give_attributes(int fd, const struct stat* source, bool times) {
  if (source == nullptr || !S_ISREG(source->st_mode))
    return ::fchmod(fd, default_file_mode()) == 0 ? 0 : errno;
  mode_t mode = source->st_mode & 07777;
  const bool owner = ::fchown(fd, source->st_uid, source->st_gid) == 0;
  const bool group = owner || ::fchown(fd, static_cast<uid_t>(-1), source->st_gid) == 0;
  if (!owner) mode &= ~mode_t{S_ISUID | S_ISGID | S_ISVTX};
  if (!group) {
    const mode_t shared = (mode >> 3) & mode & 07;
    mode = (mode & 0700) | (shared << 3) | shared;
  }
  if (::fchmod(fd, mode) != 0) return errno;
  // The copy is made; a file system that keeps no times costs it nothing.
  if (times) {
    const struct timespec at[2] = {source->st_atim, source->st_mtim};
    ::futimens(fd, at);
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
  replace_ = replace;
  bool through_proc = false;
  if (const int err = follow_links(path, target_, through_proc); err != 0) return err;
  if (through_proc) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return EISDIR;
      existed_ = S_ISREG(st.st_mode);
      if (existed_ && !replace) return EEXIST;
    }
    return open_in_place(path);
  }
  struct stat st {};
  if (::lstat(target_.c_str(), &st) != 0) {
    if (errno != ENOENT) return errno;
    return open_temporary();
  }
  if (S_ISDIR(st.st_mode)) return EISDIR;
  // A device, a FIFO, a socket: through the path, in place.
  if (!S_ISREG(st.st_mode)) return open_in_place(path);
  existed_ = true;
  replaced_ = st;
  if (!replace) return EEXIST;
  return open_temporary();
}

int OutputFile::open_in_place(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd_ < 0) return errno;
  in_place_ = true;
  return 0;
}

int OutputFile::open_temporary() {
  fd_ = ::open(directory_of(target_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return 0;
  // Old kernels report a missing O_TMPFILE as EISDIR, filesystems without it
  // as EOPNOTSUPP: fall back to a named file.  Other errors are the path's.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  const std::string pattern = target_ + ".XXXXXX";
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
  const int err = replace_ ? (std::rename(temp_name_.c_str(), target_.c_str()) == 0 ? 0 : errno)
                           : rename_no_replace(temp_name_.c_str(), target_.c_str());
  if (err != 0) return err;
  g_temp_name[0] = '\0';
  temp_name_.clear();
  return 0;
}

int OutputFile::commit(const struct stat& source, bool may_replace) { return finish(&source, true, may_replace); }

int OutputFile::commit_partial(const struct stat& source) { return finish(&source, false, false); }

int OutputFile::commit() { return finish(existed_ ? &replaced_ : nullptr, false, true); }

int OutputFile::finish(const struct stat* source, bool times, bool may_replace) {
  if (fd_ < 0) return EBADF;
  replace_ = replace_ && may_replace;
  if (f_ != nullptr && std::fflush(f_) != 0) return errno;
  if (in_place_) return close_stream();
  if (const int err = give_attributes(fd_, source, times); err != 0) return err;
  if (::fsync(fd_) != 0) return errno;
  if (!temp_name_.empty()) {
    if (const int err = close_stream(); err != 0) return err;
    return place_named();
  }
  if (!replace_) {
    if (const int err = link_unnamed(target_); err != 0) return err;
    return close_stream();
  }
  // An unnamed file cannot be renamed: link it under a fresh name first.  That
  // name is the named temporary until the rename, so a signal removes it.  It
  // is announced to the handler only once it is ours: a signal in between
  // leaves a stray name rather than removing another process's file.
  for (int attempt = 0;; ++attempt) {
    const std::string name = random_sibling(target_);
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

std::string write_new_file(const std::string& base, const uint8_t* data, size_t size,
                           const struct stat& source) {
  for (int k = 1; k < 100; ++k) {
    const std::string name = k == 1 ? base : base + "." + std::to_string(k);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return "";
    }
    int err = write_fully(fd, data, size);
    if (err == 0) err = give_attributes(fd, &source, false);
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

bool same_regular_file(const struct stat& a, const struct stat& b) {
  return S_ISREG(a.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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
