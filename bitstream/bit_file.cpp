#include "bitstream/bit_file.h"

#include "app/platform/varn_platform.h"

bool BitFile::open(const char* path, bool buffered) {
  close();
  why_ = "no file named";
  if (path == nullptr) return false;
  file_ = varn_open_regular_file(path, &why_);
  if (file_ != nullptr && !buffered) std::setvbuf(file_, nullptr, _IONBF, 0);
  return file_ != nullptr;
}

void BitFile::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

int64_t BitFile::length() {
  if (varn_fseek64(file_, 0, SEEK_END) != 0) return -1;
  const int64_t end = varn_ftell64(file_);
  if (varn_fseek64(file_, 0, SEEK_SET) != 0) return -1;
  return end;
}

size_t BitFile::read(uint8_t* buffer, size_t count) { return count ? std::fread(buffer, 1, count, file_) : 0; }

int BitFile::seek(int64_t offset) { return varn_fseek64(file_, offset, SEEK_SET); }
