// What a batch needs of the system beyond the core's FileSystem: the backups
// a folder holds, the folders the outputs go into, whether others may read a
// file, and Ctrl-C kept on the thread that talks to the user. POSIX in
// batch_files.cpp, Windows in windows_batch_files.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif

namespace larkspool::cli {

// `name` inside `folder`, with the system's separator between them.
std::string JoinPath(const std::string& folder, const std::string& name);
// The last component of `path` (after its last separator).
std::string LastComponent(const std::string& path);

// Adds to `found` the backups (files named *.bkp, in any letter case)
// directly in `folder`, and with `recursive` in every folder below it too
// (not through links to folders), in name order, a folder's files before
// its subfolders. False, with errno set, when `folder` cannot be read.
bool ListBackups(const std::string& folder, bool recursive, std::vector<std::string>& found);

// Makes the folder `path` (its parent must exist). True when it was made or
// a folder stands there already; false with errno set otherwise.
bool MakeFolder(const std::string& path);

// Why the open file `fd` is not kept to its owner: it belongs to another user,
// or others than its owner (on Windows: than its owner, the system and the
// administrators) may read or change it. Nothing when it is kept.
std::optional<std::string> OpenToOthers(int fd);

// While alive, threads that this thread starts do not take Ctrl-C: the
// signal reaches this thread, which asks the user and cancels the jobs.
// (Windows delivers Ctrl-C to a handler thread of its own anyway.)
class InterruptsStayHere {
 public:
  InterruptsStayHere();
  ~InterruptsStayHere();
  InterruptsStayHere(const InterruptsStayHere&) = delete;
  InterruptsStayHere& operator=(const InterruptsStayHere&) = delete;

#ifndef _WIN32
 private:
  sigset_t saved_{};
  bool blocked_ = false;
#endif
};

}  // namespace larkspool::cli
