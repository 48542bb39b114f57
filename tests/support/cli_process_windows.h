// Starting larkspool-cli (and other programs) on Windows, for the tests
// that need more of the child than RunCli gives: a pipe, a console.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace larkspool::testing {

// `words` (UTF-8) as one command line, each in quotes as the C runtime
// parses it back.
std::wstring CommandLine(const std::vector<std::string>& words);
// larkspool-cli's path, then `args`, as CommandLine.
std::wstring CliCommandLine(const std::vector<std::string>& args);

// Starts larkspool-cli in `cwd`, by default detached from the console, on
// these inheritable handles. False when it does not start; `child` then
// holds no handles.
bool StartCli(const std::vector<std::string>& args, const std::string& cwd, HANDLE in, HANDLE out, HANDLE err,
              PROCESS_INFORMATION& child, DWORD creationFlags = DETACHED_PROCESS);

// Everything `file` gives from where it stands to its end (a pipe: until
// every writer has closed it).
std::string ReadToEnd(HANDLE file);

}  // namespace larkspool::testing
