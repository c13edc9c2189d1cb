// How setuppack reads its inputs and writes its outputs, as gzip and xz users
// expect: "-" is standard input or output, an existing file is replaced only
// when asked (-f), pipes and devices are written where they are, and a
// regular file appears whole or not at all.
//
// Every destination is planned (PlanDestination) before any is written, so
// that a refusal writes nothing. Every function returns true on success, or
// false with a one-line message in *error.
//
// platform/ is the bottom room of setuppack: it knows files, folders, the
// console and signals, and nothing of the pack format; it uses only the
// system. Each system has a folder (posix/, windows/) with a file a concern:
// reading (whole files, streams, scratch files, the one read loop),
// destinations (plan, temporary, commit, the rename that replaces nothing),
// folders (list, find in any case, make), signals or console; names.cpp is
// common to both.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

// "-": standard input as a source, standard output as a destination.
bool IsStandardStream(const std::string& path);

// The name of a file in messages ("standard input" and "standard output" for "-").
std::string DisplayName(const std::string& path, bool isSource);

// folder/name, as the user would write it: on Windows with a backslash
// when the folder was typed with one; nothing added after a separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// Reads a whole file ("-": standard input); fails for files of 4 GiB or more
// (pack sizes are 32-bit), a regular file before anything is read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error);

// A file read as a stream ("-": standard input). A regular file of 4 GiB or
// more is refused when it is opened, before anything is read.
class SourceFile {
 public:
  SourceFile();
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  bool Open(const std::string& path, std::string* error);
  // *got = 0 at the end.
  bool Read(uint8_t* buffer, size_t size, size_t* got, std::string* error);
  // Reading starts again at the beginning (a regular file only).
  bool Rewind(std::string* error);
  bool SizeKnown() const { return sizeKnown_; }
  uint64_t Size() const { return size_; }  // a regular file's, when known

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  std::string name_;
  bool sizeKnown_ = false;
  uint64_t size_ = 0;
};

// Bytes put aside in a file that no other program sees and that is gone when
// it is closed or the process ends, in folder ("" for the system's folder of
// temporary files).
class ScratchFile {
 public:
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  bool Open(const std::string& folder, std::string* error);
  bool Append(const uint8_t* data, size_t size, std::string* error);
  // Reading starts again at the beginning.
  bool Rewind(std::string* error);
  bool Read(uint8_t* buffer, size_t size, size_t* got, std::string* error);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// True when source and destination are one regular file (so that writing
// would destroy what is being read).
bool IsSameRegularFile(const std::string& source, const std::string& destination);

enum class WriteMode {
  NewFile,         // nothing there yet: a temporary name, then a rename that replaces nothing
  ReplaceFile,     // a regular file, and -f was given: a temporary name, then a rename over it
  InPlace,         // a pipe, a device or a socket (or a link to one): opened and written where it is
  StandardOutput,  // "-", or a link that leads to this process's standard output
};

struct Destination {
  std::string name;  // as given, for messages
  std::string path;  // what is written: for a link to a regular file, the file it leads to
  WriteMode mode;
  bool isTerminal;  // writes would go to a terminal
};

// The folder a destination's scratch files go to: a regular file's own, so
// that they take room on its disk; "" for pipes, devices and standard output.
std::string ScratchFolderFor(const Destination& destination);

// Decides how name will be written. An existing regular file (or a link to
// one) is refused unless force is set; a link is never replaced, and a link
// that leads nowhere, a directory and a name in a missing folder are refused.
bool PlanDestination(const std::string& name, bool force, Destination* destination, std::string* error);

// A planned destination written as its bytes come, and put in place only by
// Commit, so that a command can write several and keep none when one of its
// inputs fails. A regular file goes to a temporary name in its folder, which
// Commit renames into place and which is removed otherwise (when the writer
// goes, or the process is interrupted). Pipes, devices and standard output
// cannot take anything back: their bytes flow as they come, as gzip -dc
// writes them, and a reader that goes away (a closed pipe) ends setuppack
// quietly, as it ends gzip (on POSIX systems by SIGPIPE), after removing its
// temporaries. A failure (a full disk or device, an fsync or close error) is
// reported with the system's reason.
class DestinationWriter {
 public:
  explicit DestinationWriter(const Destination& destination);
  ~DestinationWriter();  // removes a temporary that was not committed
  DestinationWriter(const DestinationWriter&) = delete;
  DestinationWriter& operator=(const DestinationWriter&) = delete;

  // Creates the temporary file, or opens the pipe or device (expectedSize
  // is no longer used).
  bool Open(size_t expectedSize, std::string* error);
  bool Write(const uint8_t* data, size_t size, std::string* error);
  // Every byte is there: the temporary is flushed to the disk and closed.
  bool Close(std::string* error);
  // Renames the closed temporary into place (a pipe or device: closes it).
  bool Commit(std::string* error);
  // Removes the temporary; nothing is put in place.
  void Discard();

 private:
  struct Temporary;  // the platform's open file and its name (none for a stream)
  Destination destination_;
  std::unique_ptr<Temporary> temporary_;
};

// Writes data to a planned destination at once (DestinationWriter from Open
// to Commit): a failure leaves no temporary or partial regular file behind.
bool WriteDestination(const Destination& destination, const std::vector<uint8_t>& data, std::string* error);

// Flushes and closes standard output once the command is done, so that a
// failure to write there (a full disk, a closed pipe) is not lost.
bool FinishStandardOutput(std::string* error);

// Removes the temporary files being written when the process is interrupted
// (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C, Ctrl+Break and closing the
// console), and reports a closed pipe as EPIPE instead of dying of SIGPIPE.
// On Windows it also puts the standard streams into binary mode and sends
// messages for a console through WriteConsoleW.
void InstallSignalHandlers();

#ifdef _WIN32
// The arguments of wmain, in UTF-8 as setuppack works with them.
std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv);
#endif

// Creates folder unless it is there already (*created, when given, says
// which); RemoveFolder removes an empty one again.
bool MakeFolder(const std::string& folder, std::string* error, bool* created = nullptr);
void RemoveFolder(const std::string& folder);

// The folder that holds the running program ("" when it cannot be found);
// programPath is argv[0], for systems where the program cannot name itself.
std::string ProgramFolder(const char* programPath);

// The absolute path of path when it leads to a regular file.
bool ResolveRegularFile(const std::string& path, std::string* resolved);

// True when standard error is a terminal (progress is shown there).
bool StandardErrorIsTerminal();

// The entries of folder whose names equal name in any letter case (media
// copied from CDs and FAT disks come in lower case).
bool FindAnyCase(const std::string& folder, const std::string& name, std::vector<std::string>* found,
                 std::string* error);

// A file read at any offset without reading it whole (disc images of
// several GB are searched so). Regular files only.
class FileReader {
 public:
  FileReader();
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool Open(const std::string& path, std::string* error);
  uint64_t Size() const { return size_; }
  // Reads size bytes at offset; fewer only at the end of the file.
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error);

 private:
  std::string name_;
  void* handle_;  // the platform's open file
  uint64_t size_ = 0;
};

struct FolderEntry {
  std::string name;
  bool isFolder;  // a folder itself, not a link to one
  bool isFile;    // a regular file, or a link to one
};

// The entries of folder (without "." and ".."), sorted by name.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries, std::string* error);

// True when path is a folder (or a link to one).
bool IsFolder(const std::string& path);
