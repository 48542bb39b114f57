// A fresh temporary folder for one test, removed afterwards. The core changes
// the process's current directory; the folder puts the previous one back.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "builder/backup_builder.h"

namespace larkspool::testing {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Joined with the platform's own separator, as a user's path would be.
  std::string operator/(const std::string& name) const {
    return path_ + static_cast<char>(std::filesystem::path::preferred_separator) + name;
  }

 private:
  std::string path_;
  std::string previousCwd_;
};

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
// The regular files directly inside `folder`, by name, with their contents.
std::map<std::string, Bytes> FilesIn(const std::string& folder);

}  // namespace larkspool::testing
