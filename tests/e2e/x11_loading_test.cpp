// The X libraries are loaded at run time: the built program names none of them
// among the libraries it needs, and where they are missing (the loader pointed at a
// soname that does not exist, through ZV_X11_LIBRARY) a display in DISPLAY is no
// use to it, so a scripted run goes on the terminal as without a display, silently.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "tests/support/child_session.h"
#include "tests/support/files.h"
#include "tests/support/program_window.h"
#include "tests/support/xvfb.h"

namespace {

using zv::test::read_file;

// The libraries the dynamic loader maps for the program, as ldd lists them: the
// loader itself reports them when LD_TRACE_LOADED_OBJECTS is set, without running it.
TEST(X11Loading, TheProgramNeedsNoXLibrary) {
  zv::test::ChildSession child({.input = zv::test::Stream::Pipe, .output = zv::test::Stream::Pipe});
  ASSERT_TRUE(child.start_program({ZV_INVAR_BINARY}, [] { setenv("LD_TRACE_LOADED_OBJECTS", "1", 1); }));
  child.close_input();
  EXPECT_EQ(child.finish(), 0);
  const std::string& listed = child.output();
  EXPECT_NE(listed.find("libc.so"), std::string::npos) << listed;  // the list was read at all
  // X11 and what it brings: xcb, Xau, Xdmcp and their libbsd and libmd; GL.
  for (const char* x : {"libX", "libxcb", "libGL", "libOpenGL", "libbsd", "libmd."})
    EXPECT_EQ(listed.find(x), std::string::npos) << listed;
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
