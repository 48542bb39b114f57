// Shell-style patterns over entry names, as the user gives them on the
// command line or in a desktop tool's filter field.
#pragma once

#include <string>
#include <string_view>

namespace larkspool {

// True when `name` matches the shell pattern `pattern`: '*' any run of
// characters, '?' one character, '[...]' one of a set ('[!...]' or '[^...]'
// none of it, ranges such as 'a-z'), a backslash takes the next character
// literally. Characters are UTF-8 code points; a byte outside a valid
// sequence stands for itself. `ignoreCase` folds A-Z to a-z.
bool MatchesPattern(std::string_view pattern, std::string_view name, bool ignoreCase);

// `text` with A-Z folded to a-z, every other byte as it is: the letter case
// the patterns and the systems' file names ignore.
std::string AsciiLower(std::string_view text);

}  // namespace larkspool
