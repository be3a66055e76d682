// A batch's output folder, where a file takes its final name only once its data is on the disk.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "framework/FolderItem.h"
#include "framework/Picture.h"

namespace batch {

// Each picture is written under a hidden name of its own, and the disk starts writing it at once. In
// groups, each file's own write is then waited for (which tells its failure, whoever else looks at the
// disk), the file system is waited onto the disk once, the files are renamed to their final names and
// the folder waited onto the disk after them: a power cut leaves every output whole or absent, and the
// count covers only files the disk confirmed. One wait for the disk a group instead of a file keeps a
// folder of small pictures fast. Every step goes to the folder opened at the start, whatever is done to its
// path meanwhile.
class DurableOutput {
 public:
  explicit DurableOutput(const fw::Ref<fw::FolderItem>& folder);
  // Removes the hidden files of pictures not committed.
  ~DurableOutput();
  DurableOutput(const DurableOutput&) = delete;
  DurableOutput& operator=(const DurableOutput&) = delete;

  // Writes the picture for the first free name of `stem`; it is counted once its group is committed.
  void Save(const std::string& stem, const fw::Ref<fw::Picture>& picture);
  // Commits the waiting files once there are enough of them or the first has waited long enough.
  void CommitIfDue();
  // Waits the files written so far onto the disk and gives them their names.
  void Commit();

  // Files on the disk under their final names.
  std::int32_t Saved() const noexcept { return saved_; }
  // Pictures that could not be saved, by the errno of the call that failed (0: no call failed).
  const std::map<int, std::int32_t>& Unsaved() const noexcept { return unsaved_; }
  // No later file could be written either: the disk is full or failing, the folder gone or read-only.
  bool Blocked() const noexcept { return blocked_; }
  // Where the folder the batch writes to is now, under whatever name; nil once it has been removed.
  fw::Ref<fw::FolderItem> Where() const;

 private:
  struct Pending {
    std::string stem, name, hidden;
    int fd = -1;
  };

  bool Taken(const std::string& name) const;
  // A hidden name for writing `name` under, which no file of the folder has.
  std::string PickHidden(const std::string& name);
  // Renames a file onto the disk's copy of its name, never over a file another program made meanwhile.
  int RenameIntoPlace(Pending& file);
  void Fail(int error, std::int32_t pictures = 1);

  fw::Ref<fw::FolderItem> folder_;
  int folderFd_ = -1;
  // The folder reached through its descriptor: the writer follows it wherever the folder is moved, and
  // never into whatever takes its old path.
  fw::Ref<fw::FolderItem> through_;
  int folderError_ = 0;
  long nameMax_ = -1;  // the longest name the folder's file system takes, -1 when it does not say
  std::vector<Pending> pending_;
  std::set<std::string> reserved_;  // final names of pending files
  std::chrono::steady_clock::time_point groupStarted_;
  std::mt19937 random_;
  std::int32_t saved_ = 0;
  std::map<int, std::int32_t> unsaved_;
  bool blocked_ = false;
};

}  // namespace batch
