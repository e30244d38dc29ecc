// The X libraries are loaded at run time: the built program names none of them
// among the libraries it needs, and where they are missing (the loader pointed at a
// soname that does not exist, through ZV_X11_LIBRARY) a display in DISPLAY is no
// use to it, so a scripted run goes on the terminal as without a display, silently.
#include <gtest/gtest.h>

#include <elf.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/child_session.h"
#include "tests/support/files.h"
#include "tests/support/program_window.h"
#include "tests/support/xvfb.h"

namespace {

using zv::test::read_file;

// The DT_NEEDED entries of an ELF file's dynamic section, by its section headers.
template <class Header, class Section, class Dynamic>
std::vector<std::string> neededOf(const std::string& elf) {
  std::vector<std::string> needed;
  if (elf.size() < sizeof(Header)) return needed;
  Header header;
  std::memcpy(&header, elf.data(), sizeof header);
  auto section = [&](size_t index) {
    Section s{};
    const size_t at = header.e_shoff + index * header.e_shentsize;
    if (index < header.e_shnum && at + sizeof s <= elf.size()) std::memcpy(&s, elf.data() + at, sizeof s);
    return s;
  };
  for (size_t i = 0; i < header.e_shnum; ++i) {
    const Section dynamic = section(i);
    if (dynamic.sh_type != SHT_DYNAMIC) continue;
    const Section strings = section(dynamic.sh_link);
    for (size_t at = dynamic.sh_offset; at + sizeof(Dynamic) <= dynamic.sh_offset + dynamic.sh_size &&
                                        at + sizeof(Dynamic) <= elf.size();
         at += sizeof(Dynamic)) {
      Dynamic entry;
      std::memcpy(&entry, elf.data() + at, sizeof entry);
      const size_t name = strings.sh_offset + entry.d_un.d_val;
      if (entry.d_tag == DT_NEEDED && name < elf.size()) needed.emplace_back(elf.c_str() + name);
    }
  }
  return needed;
}

TEST(X11Loading, TheProgramNeedsNoXLibrary) {
  const std::string elf = read_file(ZV_INVAR_BINARY);
  ASSERT_GT(elf.size(), size_t{EI_NIDENT});
  ASSERT_EQ(elf.compare(0, SELFMAG, ELFMAG), 0) << "not an ELF file";
  const std::vector<std::string> needed = elf[EI_CLASS] == ELFCLASS64
                                              ? neededOf<Elf64_Ehdr, Elf64_Shdr, Elf64_Dyn>(elf)
                                              : neededOf<Elf32_Ehdr, Elf32_Shdr, Elf32_Dyn>(elf);
  ASSERT_FALSE(needed.empty()) << "no dynamic section read";  // the C library at least
  // X11 and what it brings: xcb, Xau, Xdmcp and their libbsd and libmd; GL.
  for (const std::string& library : needed) {
    for (const char* x : {"libX", "libxcb", "libGL", "libOpenGL", "libbsd", "libmd."})
      EXPECT_NE(library.rfind(x, 0), 0u) << library;
  }
}

// The control is x11_window_test: with the libraries there, the same display gives
// the program its window.
TEST(X11Loading, MissingLibrariesLeaveAScriptedRunOnTheTerminal) {
  ZV_SKIP_WITHOUT_XVFB();
  zv::test::Xvfb server;
  ASSERT_TRUE(server.ready()) << "Xvfb did not report a display";
  zv::test::TempDir temp(false);
  const std::string dir = temp.path();
  zv::test::ChildSession child({.input = zv::test::Stream::Pipe, .output = zv::test::Stream::Pipe,
                                .capture_errors = true});
  ASSERT_TRUE(child.start_program({ZV_INVAR_BINARY}, [&] {
    if (chdir(dir.c_str()) != 0) _exit(126);
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("ZV_X11_LIBRARY", "libX11-missing.so.6", 1);
    unsetenv("ZVGFX");
  }));
  child.type("1\n0\n0\n0\n1\n0\n0\n0\n1\n");
  child.close_input();
  EXPECT_EQ(child.finish(), 0);
  EXPECT_EQ(child.errors(), "");
  EXPECT_NE(child.output().find(" -Ende Geradenermittlung-"), std::string::npos);
  EXPECT_EQ(read_file(dir + "/invar.txt"), read_file(std::string(ZV_GOLDEN_DIR) + "/identity.report"));
}

}  // namespace
