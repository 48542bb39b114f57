// Which entries a command takes: shell-style patterns over the names, as the
// user gives them on the command line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/name_pattern.h"

namespace larkspool::cli {

// The patterns are the core's (app/name_pattern.h).
using larkspool::MatchesPattern;

class EntrySelection {
 public:
  EntrySelection(std::vector<std::string> patterns, std::vector<std::string> excludes, bool ignoreCase);

  // No patterns and no exclusions: every entry is taken and no filter is
  // needed.
  bool TakesEverything() const { return patterns_.empty() && excludes_.empty(); }
  // An entry is taken when it matches a pattern (or none are given) and no
  // exclusion. Every pattern that matched a name is remembered, excluded or
  // not.
  bool Takes(std::string_view name);
  // The patterns that matched no name so far, in the order given.
  std::vector<std::string> Unmatched() const;

 private:
  std::vector<std::string> patterns_;
  std::vector<bool> matched_;
  std::vector<std::string> excludes_;
  bool ignoreCase_;
};

}  // namespace larkspool::cli
