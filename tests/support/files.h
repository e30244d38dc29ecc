// File helpers of the tests: whole-file reads and writes, whole writes to a descriptor, golden-file comparison
// that leaves the actual bytes beside a golden file it does not match, and a
// temporary working directory for runs that write the report.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace zv::test {

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Writes all of the text to the descriptor, going on after interruptions; stops at
// the first failure (a closed pipe or terminal).
inline void write_text(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Compares with the golden file; a mismatch leaves the actual bytes beside it.
inline void expect_golden(const std::string& path, const std::string& actual) {
  const std::string expected = read_file(path);
  if (expected != actual) write_file(path + ".actual", actual);
  EXPECT_EQ(expected, actual) << "golden " << path << " differs; actual written to " << path
                              << ".actual";
}

// A fresh directory under /tmp, made the working directory for the object's life
// when asked, and removed afterwards.
class TempDir {
 public:
  explicit TempDir(bool enter = true) : entered_(enter) {
    char pattern[] = "/tmp/invar-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "";
    if (!entered_) return;
    char* cwd = getcwd(nullptr, 0);
    previous_ = cwd ? cwd : "/";
    std::free(cwd);
    EXPECT_EQ(chdir(path_.c_str()), 0);
  }
  ~TempDir() {
    if (entered_) {
      EXPECT_EQ(chdir(previous_.c_str()), 0);
    }
    if (path_.empty()) return;
    const std::string cmd = "chmod -R u+w '" + path_ + "' && rm -rf '" + path_ + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_, previous_;
  bool entered_;
};

}  // namespace zv::test
