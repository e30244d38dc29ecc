// File helpers of the tests: whole-file reads and writes, whole writes to a descriptor, golden-file comparison
// that leaves the actual bytes beside a golden file it does not match, and a
// temporary working directory for runs that write the report.
#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#ifdef _WIN32
    const int n = _write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
#else
    ssize_t n = write(fd, text.data() + done, text.size() - done);
#endif
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

// Where a run started in the directory puts its report, which the program names
// "c:\\invar.txt": the directory itself where there are no drive letters, drive C
// on Windows (tests that write it there hold the "report" resource lock).
inline std::string report_file(const std::string& dir) {
#ifdef _WIN32
  (void)dir;
  return "c:\\invar.txt";
#else
  return dir + "/invar.txt";
#endif
}

// A fresh directory in the temporary folder, made the working directory for the
// object's life when asked, and removed afterwards (read-only entries included).
class TempDir {
 public:
  explicit TempDir(bool enter = true) : entered_(enter) {
    namespace fs = std::filesystem;
    std::error_code error;
#ifdef _WIN32
    // No mkdtemp: names are tried until one is new.
    for (unsigned i = 0; path_.empty() && i < 1000; ++i) {
      const fs::path candidate = fs::temp_directory_path(error) /
                                 ("invar-test-" + std::to_string(_getpid()) + "-" + std::to_string(i));
      if (fs::create_directory(candidate, error)) path_ = candidate.generic_string();
    }
    EXPECT_FALSE(path_.empty());
#else
    char pattern[] = "/tmp/invar-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "";
#endif
    if (!entered_ || path_.empty()) return;
    previous_ = fs::current_path(error);
    fs::current_path(path_, error);
    EXPECT_FALSE(error) << error.message();
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code error;
    if (entered_) fs::current_path(previous_, error);
    if (path_.empty()) return;
    // Links are left alone: a link's target is not the test's to change.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    for (const auto& entry : fs::recursive_directory_iterator(path_, error))
      if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
    fs::remove_all(path_, error);
    EXPECT_FALSE(error) << error.message();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::filesystem::path previous_;
  bool entered_;
};

}  // namespace zv::test
