// A bitstream file opened for raw reading, closed when it goes out of scope on every
// path. Sizes are 64-bit so files beyond 2 GiB work on 32-bit hosts too.
#pragma once

#include <cstdint>
#include <cstdio>

class BitFile {
 public:
  BitFile() = default;
  ~BitFile() { close(); }
  BitFile(const BitFile&) = delete;
  BitFile& operator=(const BitFile&) = delete;

  // false when the file cannot be opened for reading. Unbuffered files read straight
  // into the caller's chunk (one system read per chunk, no stale buffered bytes when
  // the file changes meanwhile); byte-by-byte scans want the buffer.
  // Only regular files open: a FIFO or a device would block or never end.
  bool open(const char* path, bool buffered = true);
  // Why the last open failed, for the log.
  const char* why() const { return why_; }
  bool isOpen() const { return file_ != nullptr; }
  void close();

  // One byte, or -1 at the end of the file or on a read error.
  int getByte() { return std::fgetc(file_); }
  // The length from the end position; the read position goes back to the start.
  // -1 when the file cannot be measured.
  int64_t length();
  // Reads up to count bytes from the current position; returns the count read.
  size_t read(uint8_t* buffer, size_t count);
  // 0, or -1 when the position cannot be set.
  int seek(int64_t offset);

 private:
  std::FILE* file_ = nullptr;
  const char* why_ = "";
};
