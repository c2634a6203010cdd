// The output transaction of tav_d, tav_e and the text tools: how a result
// reaches its path without ever destroying what was there before the result
// is complete.
//
// The path's symbolic links are followed to the name they end at, the
// target; then there are two kinds of output:
//  - temporary: the target is absent or a plain regular file.  The result is
//    written to an unnamed file in the target's directory (O_TMPFILE), so a
//    run that dies, even by SIGKILL, leaves nothing; where the filesystem has
//    no unnamed files, to a named "TARGET.XXXXXX" that signals and failures
//    remove.  commit() then links it at the target: without `replace` the
//    link itself refuses an existing file (EEXIST), so two runs racing for
//    one name cannot both succeed; with `replace` it atomically replaces the
//    old file (rename), so readers see the old file or the new one, never a
//    mix.  A symbolic link on the way stays as it is and names the new file:
//    the file it named is replaced whole, never written into.
//  - in place: the target is a device, a FIFO, a socket or a terminal, or
//    the path goes through /proc (/dev/stdout, /dev/fd/N), whose links name
//    open files rather than paths.  It is opened through the path and written
//    there; renaming a file over it would replace the device itself.  It is
//    opened without truncation: a regular file reached through /proc is
//    truncated only by rewrite(), once the whole result is known.
//
// The committed file takes its attributes from a source file (the input it
// was made from) as gzip and xz give them: owner and group where the system
// lets them be copied, the permission bits, and for a complete result the
// access and modification times.  The setuid, setgid and sticky bits stay
// only with the owner they were set for; a group that cannot be copied gets
// no more than the others may have.  Until then the file is private (0600).
//
// Invariants: at most one OutputFile holds a named temporary at a time (the
// signal handler removes that one); an existing regular file is never touched
// before commit() or rewrite(); a directory is never an output.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tav {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { discard(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Prepares `path` for a result.  Returns 0, or an errno value: EEXIST when
  // `replace` is false and the path holds a regular file (directly or behind
  // a symlink), EISDIR for a directory, or why the temporary file or the
  // in-place output cannot be opened.
  int open(const std::string& path, bool replace);

  bool in_place() const { return in_place_; }
  // The path named a regular file (directly or behind a symlink) at open().
  bool existed() const { return existed_; }
  // In place, and what is behind the path is a regular file: its old bytes
  // must stay until rewrite().
  bool in_place_regular() const;
  int fd() const { return fd_; }

  // A stream over the output (read and write for a temporary); owned here.
  // Null with errno set on failure.
  std::FILE* stream();

  // In place only: truncates a regular file behind the path, then writes
  // `data` from its start.  Returns 0 or an errno value.
  int rewrite(const uint8_t* data, size_t size);

  // Temporary: gives it the attributes of `source` (a regular file; for
  // anything else 0666 less the umask and nothing more), makes it durable
  // and puts it at the target, replacing an existing file only if open() was
  // told to and `may_replace` (else EEXIST).  In place: flushes and closes,
  // copying nothing.  Returns 0 or an errno value; on failure the target
  // holds what it held before.
  int commit(const struct stat& source, bool may_replace = true);
  // The same for an incomplete result: never replaces a file, and copies
  // no times, so that it cannot pass for a complete one.
  int commit_partial(const struct stat& source);
  // The same for a result made from no file: it takes the owner, group and
  // permissions of the file it replaces, or 0666 less the umask.
  int commit();

  // Closes and removes any temporary; the path is as it was.
  void discard();

 private:
  int open_in_place(const std::string& path);
  int open_temporary();
  int link_unnamed(const std::string& dest) const;
  int place_named();
  int close_stream();
  int finish(const struct stat* source, bool times, bool may_replace);

  std::string target_;     // where a temporary goes: the path, its links followed
  std::string temp_name_;  // named temporary, empty for an unnamed one
  std::FILE* f_ = nullptr;
  int fd_ = -1;
  bool in_place_ = false;
  bool existed_ = false;
  bool replace_ = false;
  struct stat replaced_ {};  // the regular file at the target, when existed_
};

// Creates `base`, or `base.2`, `base.3`, ... up to `base.99`, whichever does not
// exist yet (nothing is ever replaced), holding `data` with the attributes
// commit_partial() gives from `source`.  Returns the name used, or an empty
// string with errno set.
std::string write_new_file(const std::string& base, const uint8_t* data, size_t size,
                           const struct stat& source);

// Handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE that remove the named
// temporary (if any) and then end the process by the same signal.  A signal
// ignored when the program started (nohup, a shell's `trap '' HUP`) stays
// ignored.
void catch_fatal_signals();

// Removes the named temporary, if any.  Async-signal-safe; for handlers that
// end the process on their own.
void remove_temporary_output();

// The object open on `fd` is the file that `path` names (device and inode).
bool same_file(int fd, const std::string& path);
// Both are one regular file: writing one would change the other.
bool same_regular_file(const struct stat& a, const struct stat& b);

// 0666 less the umask: the mode of a new file that copies no other file's.
mode_t default_file_mode();

}  // namespace tav
