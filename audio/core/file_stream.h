// The file an output writes: `TFileStream`, a file opened for writing and reading
// back, and the staging of a file that replaces another, so that a run that never
// gets to write audio leaves the file it would replace as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A file opened for writing (and reading back, for header fix-ups). Every failure
// raises `EAudioException` with the system's reason.
//
// Writes are gathered and handed to the system in blocks that end on 1 MiB boundaries
// of the file, which is much faster than many small writes at unaligned offsets. So a
// write failure may surface at a later write, at `Flush`, at a read or at `Close`.
class TFileStream {
 public:
  enum class TMode { Create, OpenReadWrite };
  // ShownName, when given, is the name the messages give instead of FileName (the
  // file's final name while it is written under a staging name).
  TFileStream(const std::string& FileName, TMode Mode, const std::string& ShownName = "");
  ~TFileStream();
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Reads up to Count bytes at the current position; returns the count read.
  int64_t Read(void* Buffer, int64_t Count);
  void Write(const void* Buffer, int64_t Count);
  void Seek(int64_t Offset);
  int64_t Position() const { return Position_; }
  // The file's length, gathered writes included.
  int64_t Size() const;
  // Hands the gathered writes to the system. When that fails, they are dropped (the
  // file keeps what the system took) and the failure is raised.
  void Flush();
  // Cuts the file to Length bytes (gathered writes handed to the system first); needs
  // no room on the disk, so it works when the disk is full.
  void Truncate(int64_t Length);
  // Flushes and closes the file, reporting a failure that only closing reveals.
  void Close();
  const std::string& FileName() const { return FileName_; }
  // True once a write the system did not take (a full disk) has been dropped: the
  // file then lacks bytes that were written after the ones it holds.
  bool LostWrites() const { return LostFrom_ >= 0; }
  // The length of the file's start that holds every byte written to it: the file's
  // length, or where the first dropped write began when that is shorter.
  int64_t IntactLength() const;

  static constexpr int64_t WriteBlockSize = 1 << 20;

 private:
  [[noreturn]] void Fail(const char* What) const;
  void WriteThrough(const uint8_t* Bytes, int64_t Count, int64_t Offset);
  std::string FileName_;
  std::string ShownName_;
  int Fd_ = -1;
  int64_t Position_ = 0;
  std::vector<uint8_t> Gathered_;  // bytes not yet handed to the system
  int64_t GatheredOffset_ = 0;     // where they go in the file
  int64_t LostFrom_ = -1;          // where the first dropped write began; -1: none
};

// Where a new file for FileName is written until its run has something worth keeping:
// a hidden name in the same folder, so that the rename that puts it in place replaces
// the old file at once: ".NAME.korvane-PID-RANDOM", the process id and a random part.
// Empty when FileName names something other than a regular file (a device such as
// /dev/null is written directly).
std::string StagingNameFor(const std::string& FileName);
// Puts the staged file in place of FileName, with the permissions of the file it
// replaces; raises `EAudioException` when it cannot.
void PublishStagedFile(const std::string& Staged, const std::string& FileName);
// Puts the staged file, which holds part of a track, beside FileName, which stays as it
// was: under the first of "NAME (incomplete).EXT", "NAME (incomplete 2).EXT", ... that
// no file holds. Returns the name; raises `EAudioException` when it cannot.
std::string PublishStagedFileAsIncomplete(const std::string& Staged, const std::string& FileName);
// Removes the staged file; the file it would have replaced stays as it was.
void DiscardStagedFile(const std::string& Staged) noexcept;
// Removes the staging files in Folder that a process which no longer runs left behind
// (it was killed before it could publish or discard them); returns how many went.
// Files of running processes, and names of another pattern, stay.
int RemoveAbandonedStagingFiles(const std::string& Folder);
// `RemoveAbandonedStagingFiles` for the folder of FileName, the first time this
// process asks for that folder.
void RemoveAbandonedStagingFilesOnce(const std::string& FileName);
// Raises `EAudioException` when FileName is a file the user protected from writing:
// one without any write permission, or one this process may not write.
void RefuseProtectedFile(const std::string& FileName);

// Path with its links and "." resolved as far as it exists; as it stands when it
// cannot be. Two names of one file resolve alike.
std::string ResolvedPath(const std::string& Path);
