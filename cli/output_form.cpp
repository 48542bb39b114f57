#include "cli/output_form.h"

#include <map>

#include "cli/console_output.h"
#include "cli/terminal_ui.h"

#ifdef LARKSPOOL_HAVE_AUDIO
#include "audio/pcm_wav.h"
#endif

namespace larkspool::cli {

void AddFormOption(CLI::App& command, OutputForm& form) {
  static const std::map<std::string, OutputForm> kForms{{"stored", OutputForm::kStored},
                                                        {"pcm", OutputForm::kPcm}};
  command
      .add_option_function<std::string>(
          "--to", [&form](const std::string& value) { form = kForms.at(value); },
          "What to write: stored (each message's bytes as they are; the default) or pcm (its audio as a "
          "16-bit "
          "PCM WAV file, which every player opens)")
      ->type_name("FORM")
      ->check(CLI::IsMember({"stored", "pcm"}));
}

bool CanWrite(OutputForm form) {
#ifdef LARKSPOOL_HAVE_AUDIO
  static_cast<void>(form);
  return true;
#else
  if (form == OutputForm::kStored) return true;
  PrintNotice(
      "--to=pcm: this build has no audio decoder; only the stored bytes (--to=stored) can be written");
  return false;
#endif
}

PayloadConverter ConverterFor(OutputForm form) {
  if (form == OutputForm::kStored) return {};
#ifdef LARKSPOOL_HAVE_AUDIO
  return PcmWavConverter();
#else
  // Never the stored bytes under the name of a conversion.
  return [](FileSystem&, FileHandle, FileHandle, const PayloadSpan&, ProgressReporter&) {
    return Outcome::Fail(StatusCode::kAudioFormat).WithText("This build has no audio decoder.");
  };
#endif
}

CatResult CatInForm(OutputForm form, FileSystem& fs, UserInterface& ui, const std::string& backupFile,
                    const std::string& name, const EntryOptions& options, const PayloadSink& sink) {
#ifdef LARKSPOOL_HAVE_AUDIO
  if (form == OutputForm::kPcm) {
    return CatEntryAs(fs, ui, backupFile, name, options,
                      [&sink](FileSystem& within, FileHandle backup, const PayloadSpan& payload) {
                        return HandAsPcmWav(within, backup, payload, sink);
                      });
  }
#else
  if (!CanWrite(form)) return CatResult::kFailed;
#endif
  return CatEntry(fs, ui, backupFile, name, options, sink);
}

}  // namespace larkspool::cli
