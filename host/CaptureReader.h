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

  explicit TCaptureReader(std::size_t maxLine = DefaultMaxLine) : FMaxLine(maxLine) {}

  // Opens the file; on failure returns false and Error() says why.
  bool Open(const std::string& path);
  void Close();

  // The next line that is not blank, without its line end; nothing at the end of the file.
  // Lines longer than the bound are skipped and counted.
  std::optional<std::string> NextLine();

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
  std::string FError;
  std::size_t FDropped = 0;
  // The block read last and how far into it the lines were taken.
  std::vector<char> FBuffer;
  std::size_t FBegin = 0, FEnd = 0;
};

}  // namespace qm
