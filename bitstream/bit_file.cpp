#include "bitstream/bit_file.h"

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

int seekTo(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence);
#else
  return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

int64_t tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

}  // namespace

bool BitFile::open(const char* path, bool buffered) {
  close();
  why_ = "no file named";
  if (path == nullptr) return false;
#ifdef _WIN32
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) why_ = std::strerror(errno);
#else
  // Opened without waiting, so that a FIFO nobody writes cannot hold the caller.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why_ = "not a regular file";
    ::close(fd);
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file_ = ::fdopen(fd, "rb");
  if (file_ == nullptr) {
    why_ = std::strerror(errno);
    ::close(fd);
    return false;
  }
#endif
  if (file_ != nullptr && !buffered) std::setvbuf(file_, nullptr, _IONBF, 0);
  return file_ != nullptr;
}

void BitFile::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

int64_t BitFile::length() {
  if (seekTo(file_, 0, SEEK_END) != 0) return -1;
  const int64_t end = tell(file_);
  if (seekTo(file_, 0, SEEK_SET) != 0) return -1;
  return end;
}

size_t BitFile::read(uint8_t* buffer, size_t count) { return count ? std::fread(buffer, 1, count, file_) : 0; }

int BitFile::seek(int64_t offset) { return seekTo(file_, offset, SEEK_SET); }
