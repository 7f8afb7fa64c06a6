// A mutable argv for calling the command-line parser from tests (getopt may permute it).
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

class ArgVector {
 public:
  ArgVector(std::initializer_list<const char*> args) : ArgVector(std::vector<std::string>(args.begin(), args.end())) {}
  explicit ArgVector(const std::vector<std::string>& args) {
    storage_.emplace_back("varn_tcp_bridge");
    for (const auto& a : args) storage_.push_back(a);
    for (auto& s : storage_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
  }
  // Settings keep pointers into argv, so an ArgVector must outlive their use.
  ArgVector(const ArgVector&) = delete;
  ArgVector& operator=(const ArgVector&) = delete;

  int argc() const { return static_cast<int>(storage_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
};
