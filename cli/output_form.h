// What extract and cat write for each message: its stored bytes, or the
// audio decoded into a 16-bit PCM WAV file (--to=pcm) where the build has
// the audio decoder.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "app/cat_request.h"
#include "archive/payload.h"
#include "base/user_interface.h"
#include "platform/file_system.h"

namespace larkspool::cli {

enum class OutputForm { kStored, kPcm };

// --to=stored|pcm.
void AddFormOption(CLI::App& command, OutputForm& form);
// Whether this build writes `form`; when it does not, says so on stderr.
bool CanWrite(OutputForm form);
// How an extraction writes each payload in `form`: unset for the stored
// bytes.
PayloadConverter ConverterFor(OutputForm form);
// CatEntry, the payload handed to `sink` in `form`.
CatResult CatInForm(OutputForm form, FileSystem& fs, UserInterface& ui, const std::string& backupFile,
                    const std::string& name, const EntryOptions& options, const PayloadSink& sink);

}  // namespace larkspool::cli
