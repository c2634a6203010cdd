// Counts what every entry point makes of damaged copies of a compressed file
// of members: the real programs `tav_d FILE DEST`, `tav_e -d FILE -o OUT` and
// `tav_e -t FILE`, run by path, and the library's one-shot tav_decompress
// (after tav_decompressed_size, as a caller sizes its buffer).  The copies:
// every cut length, each member dropped, each member repeated, each pair of
// members swapped, single-byte changes at random positions with random new
// values (fixed seed), and files that are no .tav file at all: the empty
// file, 13 bytes of another format, the original text itself and the text
// compressed by another tool (given with --foreign).  Each result is
//   refused   a non-zero exit status, or an error code from the library;
//   harmless  status 0 and exactly the original text (for tav_e -t: status 0
//             on a copy that tav_e -d decodes to exactly the original text);
//   plain     tav_d only: status 0 on a file without a trailer, which tav_d
//             decodes as it always has, saying on standard error that its
//             text cannot be checked;
//   silent    status 0 and other text, or no text; for tav_e, status 0 with
//             anything on standard error (the goal is none).
// Prints one Markdown row per kind of damage, "refused / harmless / silent"
// per entry point ("refused / harmless / plain / silent" for tav_d), then
// every silent case with its kind and file offset.  A program that runs
// longer than 120 s is stopped and reported.
//   damage_count --tav-d PATH --tav-e PATH [--changes N] [--jobs N]
//                [--foreign NAME=FILE]... FILE.tav ORIGINAL-TEXT
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tav.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

enum Outcome { refused, harmless, plain, silent, outcomes };
enum Entry { tav_d, tav_e_d, tav_e_t, library, entries };
const char* const entry_names[entries] = {"tav_d", "tav_e -d", "tav_e -t", "tav_decompress"};

struct Copy {
  std::string kind;  // the row
  std::string what;  // this copy, for the list of silent cases
  Bytes bytes;
};

struct Verdict {
  Outcome outcome[entries] = {};
  std::string note;  // a program that timed out or could not run
};

Bytes read_bytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void write_bytes(const fs::path& p, const Bytes& b) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

struct Run {
  int status = -1;  // exit status; 128 + signal; 124 timed out (timeout(1))
  std::string err;
};

// Runs argv under timeout(1), standard input /dev/null, standard output and
// error into files of `dir`.
Run run(const std::vector<std::string>& args, const fs::path& dir) {
  std::vector<std::string> full = {"/usr/bin/timeout", "120"};
  full.insert(full.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : full) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out = (dir / "stdout").string(), err = (dir / "stderr").string();
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  Run r;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0) {
    }
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }
  posix_spawn_file_actions_destroy(&fa);
  const Bytes e = read_bytes(err);
  r.err.assign(e.begin(), e.end());
  return r;
}

struct Judge {
  std::string tav_d_path, tav_e_path;
  Bytes text;

  Verdict judge(const Copy& c, const fs::path& dir) const {
    Verdict v;
    const fs::path in = dir / "copy.tav", dest = dir / "text", partial = dir / "text.partial";
    write_bytes(in, c.bytes);
    auto note = [&](const char* who, const Run& r) {
      if (r.status == 124 || r.status >= 128 || r.status < 0)
        v.note += std::string(who) + " ended with status " + std::to_string(r.status) + "; ";
    };

    fs::remove(dest);
    Run r = run({tav_d_path, in.string(), dest.string()}, dir);
    note("tav_d", r);
    if (r.status != 0) {
      v.outcome[tav_d] = refused;
    } else if (read_bytes(dest) == text) {
      v.outcome[tav_d] = harmless;
    } else {
      v.outcome[tav_d] = r.err.find("warning: no trailer, so the decoded text cannot be checked") !=
                                 std::string::npos
                             ? plain
                             : silent;
    }

    fs::remove(dest);
    r = run({tav_e_path, "-d", in.string(), "-o", dest.string()}, dir);
    note("tav_e -d", r);
    const bool d_exact = r.status == 0 && r.err.empty() && read_bytes(dest) == text;
    v.outcome[tav_e_d] = r.status != 0 ? refused : d_exact ? harmless : silent;

    r = run({tav_e_path, "-t", in.string()}, dir);
    note("tav_e -t", r);
    v.outcome[tav_e_t] = r.status != 0 ? refused : (r.err.empty() && d_exact) ? harmless : silent;
    fs::remove(dest);
    fs::remove(partial);

    uint64_t size = 0;
    if (tav_decompressed_size(c.bytes.data(), c.bytes.size(), &size) != TAV_OK) {
      v.outcome[library] = refused;
    } else if (size > (uint64_t{256} << 20)) {
      v.note += "tav_decompressed_size gave " + std::to_string(size) + " bytes; ";
      v.outcome[library] = refused;  // a caller would not size a buffer for it
    } else {
      Bytes back(size);
      size_t got = 0;
      const tav_error e = tav_decompress(c.bytes.data(), c.bytes.size(), back.data(), back.size(), &got);
      back.resize(e == TAV_OK ? got : 0);
      v.outcome[library] = e != TAV_OK ? refused : back == text ? harmless : silent;
    }
    return v;
  }
};

// The members of a good file, walking the trailers back from its end: the
// member size is at trailer bytes 16..19 and 22.
std::vector<Bytes> split_members(const Bytes& file) {
  std::vector<Bytes> members;
  size_t end = file.size();
  while (end > 0) {
    if (end < 36) return {};
    const uint8_t* t = file.data() + end - 36;
    const uint64_t size =
        uint64_t{t[16]} | uint64_t{t[17]} << 8 | uint64_t{t[18]} << 16 | uint64_t{t[19]} << 24 | uint64_t{t[22]} << 32;
    if (size < 52 || size > end) return {};
    members.insert(members.begin(), Bytes(file.begin() + static_cast<long>(end - size), file.begin() + static_cast<long>(end)));
    end -= size;
  }
  return members;
}

Bytes joined(const std::vector<Bytes>& parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  Judge judge;
  int changes = 1000, jobs = 2;
  std::vector<std::pair<std::string, std::string>> foreign;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--tav-d" && has_value) {
      judge.tav_d_path = argv[++i];
    } else if (a == "--tav-e" && has_value) {
      judge.tav_e_path = argv[++i];
    } else if (a == "--changes" && has_value) {
      changes = std::atoi(argv[++i]);
    } else if (a == "--jobs" && has_value) {
      jobs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--foreign" && has_value) {
      const std::string f = argv[++i];
      const size_t eq = f.find('=');
      if (eq == std::string::npos) {
        std::fprintf(stderr, "damage_count: --foreign %s: not NAME=FILE\n", f.c_str());
        return 1;
      }
      foreign.emplace_back(f.substr(0, eq), f.substr(eq + 1));
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2 || judge.tav_d_path.empty() || judge.tav_e_path.empty()) {
    std::fprintf(stderr,
                 "usage: damage_count --tav-d PATH --tav-e PATH [--changes N] [--jobs N] "
                 "[--foreign NAME=FILE]... FILE.tav ORIGINAL-TEXT\n");
    return 1;
  }
  const Bytes good = read_bytes(positional[0]);
  judge.text = read_bytes(positional[1]);
  const std::vector<Bytes> members = split_members(good);
  if (good.empty() || members.empty()) {
    std::fprintf(stderr, "damage_count: %s: not a file of members\n", positional[0].c_str());
    return 1;
  }

  std::vector<Copy> copies;
  for (size_t len = 0; len < good.size(); ++len)
    copies.push_back({"cut", "cut to " + std::to_string(len) + " bytes", Bytes(good.begin(), good.begin() + static_cast<long>(len))});
  const size_t n = members.size();
  for (size_t i = 0; i < n; ++i) {
    std::vector<Bytes> m = members;
    m.erase(m.begin() + static_cast<long>(i));
    copies.push_back({"member dropped", "member " + std::to_string(i + 1) + " dropped", joined(m)});
  }
  for (size_t i = 0; i < n; ++i) {
    std::vector<Bytes> m = members;
    m.insert(m.begin() + static_cast<long>(i), members[i]);
    copies.push_back({"member repeated", "member " + std::to_string(i + 1) + " repeated", joined(m)});
  }
  for (size_t i = 0; i < n; ++i)
    for (size_t k = i + 1; k < n; ++k) {
      std::vector<Bytes> m = members;
      std::swap(m[i], m[k]);
      copies.push_back({"members swapped", "members " + std::to_string(i + 1) + " and " + std::to_string(k + 1) + " swapped", joined(m)});
    }
  std::mt19937_64 rng(20261209);
  for (int i = 0; i < changes; ++i) {
    Bytes bad = good;
    const size_t at = rng() % bad.size();
    bad[at] = static_cast<uint8_t>(bad[at] + 1 + rng() % 255);  // never the same value
    copies.push_back({"byte changed", "byte " + std::to_string(at) + " changed", bad});
  }
  copies.push_back({"empty file", "the empty file", {}});
  const uint8_t other[] = {5, 0, 0, 0, 9, 0, 0, 4, 'h', 'e', 'l', 'l', 'o'};
  copies.push_back({"13 bytes of another format", "13 bytes of another format", Bytes(std::begin(other), std::end(other))});
  copies.push_back({"the text itself", "the original text", judge.text});
  for (const auto& [name, file] : foreign) copies.push_back({name, name, read_bytes(file)});

  // Workers take copies in turn, each in a folder of its own.
  const fs::path root = fs::temp_directory_path() / ("damage_count." + std::to_string(getpid()));
  std::vector<Verdict> verdicts(copies.size());
  std::atomic<size_t> next{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < jobs; ++w) {
    workers.emplace_back([&, w] {
      const fs::path dir = root / std::to_string(w);
      fs::create_directories(dir);
      for (size_t i; (i = next++) < copies.size();) verdicts[i] = judge.judge(copies[i], dir);
    });
  }
  for (auto& t : workers) t.join();
  fs::remove_all(root);

  std::printf("| damage | copies |");
  for (const char* e : entry_names) std::printf(" %s |", e);
  std::printf("\n|---|---|---|---|---|---|\n");
  uint64_t silent_total = 0;
  for (size_t first = 0; first < copies.size();) {
    size_t last = first;
    uint64_t count[entries][outcomes] = {};
    while (last < copies.size() && copies[last].kind == copies[first].kind) {
      for (int e = 0; e < entries; ++e) ++count[e][verdicts[last].outcome[e]];
      ++last;
    }
    std::printf("| %s | %zu |", copies[first].kind.c_str(), last - first);
    for (int e = 0; e < entries; ++e) {
      if (e == tav_d)
        std::printf(" %" PRIu64 " / %" PRIu64 " / %" PRIu64 " / %" PRIu64 " |", count[e][refused], count[e][harmless],
                    count[e][plain], count[e][silent]);
      else
        std::printf(" %" PRIu64 " / %" PRIu64 " / %" PRIu64 " |", count[e][refused], count[e][harmless], count[e][silent]);
      silent_total += count[e][silent];
    }
    std::printf("\n");
    first = last;
  }
  std::printf("\n%s (%zu bytes, %zu members): %" PRIu64 " silent results\n", positional[0].c_str(), good.size(), n,
              silent_total);
  for (size_t i = 0; i < copies.size(); ++i) {
    for (int e = 0; e < entries; ++e)
      if (verdicts[i].outcome[e] == silent) std::printf("silent: %s: %s\n", entry_names[e], copies[i].what.c_str());
    if (!verdicts[i].note.empty()) std::printf("note: %s: %s\n", copies[i].what.c_str(), verdicts[i].note.c_str());
  }
  return silent_total == 0 ? 0 : 3;
}
