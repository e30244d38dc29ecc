// The OpenGL driver on the virtual desktop's recording OpenGL: the pixel formats it
// asks for, the sample fallback, what makes its open fail (and that nothing is left
// behind then), its window across a switch to full screen and back, present and
// pumpEvents on the program's thread, and its place in the driver search.
#include <algorithm>

#include "runtime/hooks.h"
#include "tests/gfx/win32/driver_test_support.h"
#include "tests/gfx/win32/typing.h"

namespace zvtest::drivers {
namespace {

constexpr int32_t OPENGL = 0x02, STENCIL = 0x10000, ACCUMULATION = 0x20000, MULTISAMPLE = 0x40000;
constexpr const char* ENABLE_MULTISAMPLE = "glEnable 809d";

class OpenGlDriverTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    list_[0] = &zv::openGlWindowDriver();
  }

  static int32_t open(int32_t depth, int32_t flags) { return zv::setScreenSize(640, 480, depth, 1, flags, 0); }

  // The page copy statement, which an OpenGL screen answers with present and
  // pumpEvents.
  static void pump() { zv::call_hook<&zv::ConsoleHooks::copy_page>(-1, -1); }

  // How often the call was made since the n-th call noted.
  static ptrdiff_t count(const char* call, size_t since = 0) {
    const std::vector<std::string> calls = vdesk::glCalls();
    return std::count(calls.begin() + static_cast<ptrdiff_t>(std::min(since, calls.size())), calls.end(), call);
  }
  static bool called(const char* call) { return count(call) > 0; }
};

vdesk::GlPixelFormat format32(int32_t samples, bool accelerated = true) {
  return {32, 8, 8, 8, 8, 64, 24, 8, samples, accelerated};
}

struct FormatCase {
  const char* name;
  int32_t depth, flags;
  vdesk::GlRequest asked;  // the first request; answer not compared
};

class PixelFormatRequest : public OpenGlDriverTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(PixelFormatRequest, AsksForTheDefaults) {
  const FormatCase& c = GetParam();
  ASSERT_EQ(open(c.depth, OPENGL | c.flags), 0);
  const std::vector<vdesk::GlRequest> requests = vdesk::glRequests();
  // The probe's descriptor comes first, then the window's.
  ASSERT_GE(requests.size(), 2u);
  vdesk::GlRequest asked = requests[1];
  asked.answer = 0;
  const vdesk::GlRequest& e = c.asked;
  EXPECT_EQ(std::tie(asked.arb, asked.accelerated, asked.double_buffer, asked.colour, asked.red, asked.green,
                     asked.blue, asked.alpha, asked.accum, asked.accum_red, asked.accum_green, asked.accum_blue,
                     asked.accum_alpha, asked.depth, asked.stencil, asked.samples),
            std::tie(e.arb, e.accelerated, e.double_buffer, e.colour, e.red, e.green, e.blue, e.alpha, e.accum,
                     e.accum_red, e.accum_green, e.accum_blue, e.accum_alpha, e.depth, e.stencil, e.samples));
  EXPECT_NE(requests[1].answer, 0);
  EXPECT_EQ(called(ENABLE_MULTISAMPLE), (c.flags & MULTISAMPLE) != 0);
}

INSTANTIATE_TEST_SUITE_P(
    OpenGl, PixelFormatRequest,
    ::testing::Values(
        FormatCase{"bits32", 32, 0, {true, true, true, 32, 8, 8, 8, 8, 0, 0, 0, 0, 0, 16, 0, -1, 0}},
        FormatCase{"bits16", 16, 0, {true, true, true, 16, 5, 5, 5, 0, 0, 0, 0, 0, 0, 16, 0, -1, 0}},
        // A screen of 8 bits is raised to 16 for OpenGL.
        FormatCase{"bits8", 8, 0, {true, true, true, 16, 5, 5, 5, 0, 0, 0, 0, 0, 0, 16, 0, -1, 0}},
        FormatCase{"accumulation", 32, ACCUMULATION, {true, true, true, 32, 8, 8, 8, 8, 32, 8, 8, 8, 8, 16, 0, -1, 0}},
        FormatCase{"stencil", 32, STENCIL, {true, true, true, 32, 8, 8, 8, 8, 0, 0, 0, 0, 0, 16, 8, -1, 0}},
        FormatCase{"multisample", 32, MULTISAMPLE, {true, true, true, 32, 8, 8, 8, 8, 0, 0, 0, 0, 0, 16, 0, 4, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// Each request the window's format took after the probe: ARB with its sample count
// ("any" when the list names none), or the descriptor ("d"), and whether it was
// answered.
std::vector<std::string> windowRequests() {
  std::vector<std::string> steps;
  const std::vector<vdesk::GlRequest> requests = vdesk::glRequests();
  for (size_t i = 1; i < requests.size(); ++i) {
    const vdesk::GlRequest& r = requests[i];
    const std::string samples = r.samples < 0 ? "any" : std::to_string(r.samples);
    steps.push_back((r.arb ? samples : std::string("d")) + (r.answer ? "+" : "-"));
  }
  return steps;
}

struct FallbackCase {
  const char* name;
  std::vector<vdesk::GlPixelFormat> formats;
  std::string wgl_extensions;
  std::vector<std::string> steps;
  bool multisampled;
};

class SampleFallback : public OpenGlDriverTest, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(SampleFallback, LowersTheSamplesThenTakesTheDescriptor) {
  const FallbackCase& c = GetParam();
  vdesk::setGlFormats(c.formats);
  vdesk::setGlExtensions("GL_EXT_bgra", c.wgl_extensions);
  ASSERT_EQ(open(32, OPENGL | MULTISAMPLE), 0);
  EXPECT_EQ(windowRequests(), c.steps);
  EXPECT_EQ(called(ENABLE_MULTISAMPLE), c.multisampled);
}

const std::string kAllWgl = "WGL_ARB_extensions_string WGL_ARB_pixel_format WGL_ARB_multisample";

INSTANTIATE_TEST_SUITE_P(
    OpenGl, SampleFallback,
    ::testing::Values(FallbackCase{"four", {format32(0), format32(4)}, kAllWgl, {"4+"}, true},
                      FallbackCase{"two", {format32(0), format32(2)}, kAllWgl, {"4-", "2+"}, true},
                      FallbackCase{"none", {format32(0)}, kAllWgl, {"4-", "2-", "any+"}, false},
                      FallbackCase{"unaccelerated", {format32(0, false)}, kAllWgl, {"4-", "2-", "any-", "d+"}, false},
                      // Without the format extension only the descriptor is asked, and a
                      // format from it has no sample buffers to enable.
                      FallbackCase{"no_arb", {format32(4)}, "WGL_ARB_extensions_string", {"d+"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A fresh desktop brings back the recording OpenGL's extensions and formats.
TEST_F(OpenGlDriverTest, FailedOpensLeaveNothingBehind) {
  expectFailedOpens(
      {
          {"no GL_EXT_bgra", OPENGL,
           [](bool on) {
             on ? vdesk::setGlExtensions("GL_EXT_bgra_extended GL_ARB_multitexture", kAllWgl)
                : vdesk::enable(1024, 768, 32);
           }},
          {"no opengl32", OPENGL, [](bool on) { vdesk::setOpenGlAvailable(!on); }},
          {"missing function", OPENGL, [](bool on) { vdesk::hideExport("opengl32", "glTexImage2D", on); }},
          {"window creation refused", OPENGL, [](bool on) { vdesk::refuseWindowCreation(on); }},
          {"no pixel formats", OPENGL, [](bool on) { on ? vdesk::setGlFormats({}) : vdesk::enable(1024, 768, 32); }},
          {"without the flag", 0, [](bool) {}},
      },
      640, 480, 32, OPENGL);
}

TEST_F(OpenGlDriverTest, PresentSwapsAndPumpEventsDeliversKeysOnTheProgramsThread) {
  ASSERT_EQ(open(32, OPENGL), 0);
  const zv::WindowDriver& driver = *zv::currentScreen()->driver;
  EXPECT_EQ(driver.setColour, nullptr);
  EXPECT_STREQ(driver.name, "OpenGL");
  HWND window = theWindow();
  const vdesk::WindowInfo shown = info(window);
  EXPECT_EQ(shown.owner_thread, GetCurrentThreadId());
  EXPECT_EQ(shown.client_rect.right - shown.client_rect.left, 640);
  EXPECT_EQ(shown.client_rect.bottom - shown.client_rect.top, 480);
  EXPECT_EQ(shown.style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
  EXPECT_EQ(vdesk::foregroundWindow(), window);

  vdesk::key(VK_ESCAPE, 1, false, true);
  vdesk::key(VK_ESCAPE, 1, false, false);
  // Nothing handles the window's messages between the program's frames.
  EXPECT_TRUE(takeKeys().empty());
  pump();
  EXPECT_EQ(takeKeys(), std::vector<int32_t>{27});
  EXPECT_EQ(count("swap"), 1);
}

TEST_F(OpenGlDriverTest, FullScreenSwitchRestylesTheWindowAndKeepsTheContext) {
  vdesk::setDisplayModes({{640, 480, 32, 60}, {1024, 768, 32, 60}});
  ASSERT_EQ(open(32, OPENGL), 0);
  HWND window = theWindow();
  const size_t calls_before = vdesk::glCalls().size();

  zvtest::pressAltEnter();
  pump();
  EXPECT_EQ(vdesk::currentDisplayMode().width, 640);
  vdesk::WindowInfo full = info(window);
  EXPECT_TRUE(full.visible);
  EXPECT_EQ(full.style & (WS_POPUP | WS_CAPTION), static_cast<DWORD>(WS_POPUP));
  EXPECT_EQ(full.window_rect.left, 0);
  EXPECT_EQ(full.window_rect.right, 640);

  zvtest::pressAltEnter();
  pump();
  EXPECT_EQ(vdesk::currentDisplayMode().width, 1024);
  const vdesk::WindowInfo windowed = info(window);
  EXPECT_EQ(windowed.style & (WS_POPUP | WS_CAPTION), static_cast<DWORD>(WS_CAPTION));
  EXPECT_EQ(windowed.client_rect.right - windowed.client_rect.left, 640);
  // The same window and context throughout: no context made or deleted since.
  EXPECT_EQ(count("context", calls_before), 0);
  EXPECT_EQ(count("delete", calls_before), 0);
  EXPECT_EQ(vdesk::glContexts(), 1);

  zv::closeScreenAtExit();
  EXPECT_EQ(vdesk::glContexts(), 0);
  EXPECT_TRUE(vdesk::windows().empty());
}

TEST_F(OpenGlDriverTest, SearchOpensOpenGlAfterTheOthersRefusedTheFlag) {
  zv::setWindowDriverList(nullptr);
  ASSERT_EQ(open(32, OPENGL), 0);
  EXPECT_STREQ(zv::currentScreen()->driver->name, "OpenGL");
  // The drivers before it in the list refuse the flag.
  std::vector<std::string> names;
  for (const zv::WindowDriver* const* d = zv::windowDriverList(); *d; ++d) names.push_back((*d)->name);
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names.back(), "OpenGL");
  EXPECT_EQ(names[names.size() - 2], "GDI");
}

}  // namespace
}  // namespace zvtest::drivers
