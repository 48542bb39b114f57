#include "cli/batch_files.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace larkspool::cli {
namespace {

bool IsBackupName(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string extension = name.substr(name.size() - 4);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return extension == ".bkp";
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string LastComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool ListBackups(const std::string& folder, bool recursive, std::vector<std::string>& found) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return false;
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (errno != 0) return false;
  std::sort(names.begin(), names.end());
  std::vector<std::string> folders;
  for (const std::string& name : names) {
    const std::string path = JoinPath(folder, name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (recursive) folders.push_back(path);
    } else if (IsBackupName(name)) {
      found.push_back(path);
    }
  }
  for (const std::string& below : folders) {
    // A folder below that cannot be read holds no backup this batch can see.
    ListBackups(below, true, found);
  }
  return true;
}

bool MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  const int error = errno;
  struct stat info {};
  if (error == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  errno = error == EEXIST ? ENOTDIR : error;
  return false;
}

std::optional<std::string> OpenToOthers(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return "its permissions cannot be read";
  if (info.st_uid != 0 && info.st_uid != ::geteuid()) return "it belongs to another user";
  const auto others = static_cast<unsigned>(info.st_mode & (S_IRWXG | S_IRWXO));
  if (others == 0) return std::nullopt;
  char text[96];
  std::snprintf(text, sizeof text, "its permissions %04o let others %s it (chmod 600 makes it yours alone)",
                static_cast<unsigned>(info.st_mode & 07777),
                (others & (S_IRGRP | S_IROTH)) != 0 ? "read" : "change");
  return std::string(text);
}

InterruptsStayHere::InterruptsStayHere() {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  blocked_ = ::pthread_sigmask(SIG_BLOCK, &interrupt, &saved_) == 0;
}

InterruptsStayHere::~InterruptsStayHere() {
  if (blocked_) ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace larkspool::cli
