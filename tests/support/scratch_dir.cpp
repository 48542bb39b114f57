#include "tests/support/scratch_dir.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace larkspool::testing {

ScratchDir::ScratchDir() {
  // A random name that nobody has taken; create_directory tells whether it
  // was free, so parallel test processes never share a folder.
  static std::mt19937_64 names{std::random_device{}()};
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate = temp / ("larkspool-test-" + std::to_string(names()));
    if (std::filesystem::create_directory(candidate)) path_ = candidate.string();
  }
  if (path_.empty()) throw std::runtime_error("cannot create a scratch folder in " + temp.string());
  previousCwd_ = std::filesystem::current_path().string();
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::current_path(previousCwd_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::map<std::string, Bytes> FilesIn(const std::string& folder) {
  std::map<std::string, Bytes> files;
  // Names in UTF-8, as the program holds them on every system.
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::u8string name = entry.path().filename().u8string();
    std::ifstream in(entry.path(), std::ios::binary);
    files[std::string(name.begin(), name.end())] =
        Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

}  // namespace larkspool::testing
