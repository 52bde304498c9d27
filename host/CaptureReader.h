// Reads a capture file of packet texts one line at a time.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm {

class TCaptureReader {
 public:
  static constexpr std::size_t DefaultMaxLine = 4096;

  // Bytes read at most in one turn (see NewTurn) before the caller gets its time back.
  static constexpr std::size_t DefaultMaxRead = 1024 * 1024;

  explicit TCaptureReader(std::size_t maxLine = DefaultMaxLine, std::size_t maxRead = DefaultMaxRead)
      : FMaxLine(maxLine), FMaxRead(maxRead) {}

  // Opens the file, which must be a regular one (a device or a pipe such as /dev/zero may
  // never end); on failure returns false and Error() says why.
  bool Open(const std::string& path);
  void Close();

  // The next line that is not blank, without its line end. Nothing at the end of the file,
  // and nothing, with AtEnd() false, once the turn's bytes are read: NewTurn lets the next
  // call read on. Lines longer than the bound are skipped and counted.
  std::optional<std::string> NextLine();
  bool AtEnd() const { return !FFile || FAtEnd; }
  // Another maxRead bytes may be read (Open starts the first turn).
  void NewTurn() { FReadInTurn = 0; }

  const std::string& Error() const { return FError; }
  std::size_t DroppedLines() const { return FDropped; }

 private:
  // Reads the next block into the buffer; false at the end of the file.
  bool Fill();

  struct TClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, TClose> FFile;
  std::size_t FMaxLine;
  std::size_t FMaxRead;
  std::string FError;
  bool FAtEnd = false;
  std::size_t FReadInTurn = 0;
  // A line over the bound whose rest is still to be skipped.
  bool FTooLong = false;
  std::string FLine;
  std::size_t FDropped = 0;
  // The block read last and how far into it the lines were taken.
  std::vector<char> FBuffer;
  std::size_t FBegin = 0, FEnd = 0;
};

}  // namespace qm
