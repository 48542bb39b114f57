#include "cli/entry_selection.h"

#include <utility>

namespace larkspool::cli {
EntrySelection::EntrySelection(std::vector<std::string> patterns, std::vector<std::string> excludes,
                               bool ignoreCase)
    : patterns_(std::move(patterns)),
      matched_(patterns_.size(), false),
      excludes_(std::move(excludes)),
      ignoreCase_(ignoreCase) {}

bool EntrySelection::Takes(std::string_view name) {
  bool included = patterns_.empty();
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (MatchesPattern(patterns_[i], name, ignoreCase_)) {
      matched_[i] = true;
      included = true;
    }
  }
  if (!included) return false;
  for (const std::string& exclude : excludes_) {
    if (MatchesPattern(exclude, name, ignoreCase_)) return false;
  }
  return true;
}

std::vector<std::string> EntrySelection::Unmatched() const {
  std::vector<std::string> unmatched;
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (!matched_[i]) unmatched.push_back(patterns_[i]);
  }
  return unmatched;
}

}  // namespace larkspool::cli
