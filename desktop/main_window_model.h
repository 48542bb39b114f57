// The main window of a desktop tool without its toolkit: the two paths, which
// always equal the two fields, the browse results and the paths handed in by
// the command line or a drop, and the Extract press. A front end draws the
// window, copies the fields in on every change and shows the paths again
// after a browse, a drop or the start path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/extract_request.h"
#include "base/user_interface.h"
#include "platform/file_system.h"

namespace larkspool::desktop {

class MainWindowModel {
 public:
  // Paths are as the file layer takes them: UTF-8 on Windows, the system's
  // bytes elsewhere.
  MainWindowModel(FileSystem& fs, UserInterface& ui) : fs_(fs), ui_(ui), extractor_(fs, ui) {}

  const std::string& backupFile() const { return m_strBackupFile; }
  const std::string& folder() const { return m_strFolder; }

  // Either field changed: both are copied in.
  void OnEditChange(std::string backupFile, std::string folder);
  // A browse dialog ended with `chosen`, which replaces its path (a folder
  // without a file-system path empties the folder field); a cancelled dialog
  // changes nothing and is not passed on. The front end then shows the paths
  // in the fields again.
  void OnFileChosen(std::string chosen) { m_strBackupFile = std::move(chosen); }
  void OnFolderChosen(std::string chosen) { m_strFolder = std::move(chosen); }
  // A path from the command line or a drop: a folder fills the folder field,
  // anything else the backup field. Always changes a field.
  void TakePath(std::string path);

  // The Extract press. A fault that escapes the request as an exception (no
  // memory) is shown as its catalogue message and ends the request as
  // failed; the files written before it stay.
  // When the run stopped at a damaged entry, after its message the user is
  // asked whether to save what can still be read; Yes goes on from that
  // entry, writes the report file into the folder and shows the summary. The
  // result is then the salvage's.
  RunResult OnExtract();

  // Lets a run's request be changed before it starts (which entries, under
  // which names).
  Extractor& extractor() { return extractor_; }
  // The messages the salvage offered after a damaged stop saves, by their
  // payload's offset; unset, every one it finds. A run limited to chosen
  // entries limits its salvage to the same.
  void set_salvage_chosen(std::function<bool(std::int64_t offset)> chosen) {
    salvageChosen_ = std::move(chosen);
  }

 private:
  // Offers to save what a damaged backup still holds after `stop`.
  RunResult OfferSalvage(const DamagedStop& stop);

  FileSystem& fs_;
  UserInterface& ui_;
  Extractor extractor_;
  std::function<bool(std::int64_t)> salvageChosen_;
  std::string m_strBackupFile;
  std::string m_strFolder;
};

// The path a desktop tool starts with, from its arguments after the program's
// name: the first one, made absolute against the current folder so that
// entering the extraction folder cannot change what it names; empty when
// there is none.
std::string StartPath(const std::vector<std::string>& arguments);

}  // namespace larkspool::desktop
