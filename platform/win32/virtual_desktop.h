// The virtual desktop: an in-memory backend of the Win32 layer for tests. Tests
// switch it on, drive windows with hardware input and window events, choose the
// display modes, and read back what the windows show; nothing here is used by the
// program itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zv::vdesk {

struct DisplayMode {
  int32_t width, height, bits, frequency;
};

// Switches the layer to a fresh virtual desktop of that size; its mode list is
// {width, height, bits, 60}. Windows of an earlier desktop are gone.
void enable(int32_t width, int32_t height, int32_t bits = 32);
// Back to no backend: CreateWindowExA fails again; the desktop's windows are gone.
void disable();
// The modes EnumDisplaySettingsA lists and ChangeDisplaySettings*A accept; the
// desktop's own mode (what a restore returns to) stays the one of enable().
void setDisplayModes(const std::vector<DisplayMode>& modes);
DisplayMode currentDisplayMode();
void refuseWindowCreation(bool refuse);  // CreateWindowExA fails while set
void refuseDisplayChange(bool refuse);   // ChangeDisplaySettings*A answer DISP_CHANGE_FAILED while set
// Another program changes the display mode (refusals of refuseDisplayChange do not
// stop it): windows get WM_DISPLAYCHANGE and every DirectDraw surface is lost.
void changeDisplayModeFromOutside(const DisplayMode& mode);
// SetDisplayMode calls of DirectDraw objects, as they were made, successful or not.
struct DisplayModeRequest {
  int32_t width, height, bits, frequency;
  DWORD flags;
};
std::vector<DisplayModeRequest> displayModeRequests();
void clearDisplayModeRequests();
// Every DirectDraw surface is lost, as on a switch to another program's full screen.
void loseSurfaces();
// Every acquired DirectInput keyboard loses its acquisition.
void takeKeyboardAcquisition();
bool keyboardAcquired();
// DirectDraw and DirectInput objects not yet released, on every desktop.
int32_t directXObjects();
// GetProcAddress answers NULL for the export while it is hidden.
void hideExport(const char* module, const char* name, bool hidden);

struct WindowInfo {
  HWND window;
  std::string title, class_name;
  RECT window_rect, client_rect;  // screen coordinates
  DWORD style, ex_style;
  bool visible, topmost, layered;
  COLORREF colour_key;
  bool has_colour_key;
  DWORD owner_thread;
};
std::vector<WindowInfo> windows();  // existing top-level windows, oldest first
bool windowInfo(HWND window, WindowInfo* out);

// The client area as presented: 0x00RRGGBB per pixel, row-major, width × height of
// the client rectangle; black where nothing was written. Empty for an unknown window.
std::vector<uint32_t> clientPixels(HWND window, int32_t* width, int32_t* height);
uint64_t presentedLines(HWND window);  // lines SetDIBitsToDevice has written into it
HWND foregroundWindow();

// Hardware input, as a keyboard and a mouse deliver it. A key goes to the foreground
// window's thread; character, when not -1, is the Windows-1252 byte a keyboard layout
// other than the US one gives for the press (-2: none; 0x10000 plus the accent for a
// dead key), as a real display reports it.
void key(uint16_t virtual_key, uint8_t scan, bool extended, bool down, int character = -1);
void mouseMove(int32_t screen_x, int32_t screen_y);  // within ClipCursor's rectangle
void mouseButton(int32_t button /* 0 left, 1 right, 2 middle, 3 x1, 4 x2 */, bool down);
void mouseWheel(int32_t delta, bool horizontal);

// Window events.
void requestClose(HWND window);  // the frame's close button
void activate(HWND window);      // the window gains the focus (WM_ACTIVATE both ways)
void deactivateAll();            // the focus goes to a window outside the program

POINT cursor();
bool cursorClip(RECT* clip);  // whether a clip is in force, and its rectangle
bool screenSaverActive();
HCURSOR cursorShape();        // what SetCursor last set

// OpenGL. Every pixel-format request made through ChoosePixelFormat or
// wglChoosePixelFormatARB, on any backend, with the format it was answered with (0:
// none); samples is -1 when the request did not name a count.
struct GlRequest {
  bool arb, accelerated, double_buffer;
  int32_t colour, red, green, blue, alpha, accum, accum_red, accum_green, accum_blue, accum_alpha, depth, stencil,
      samples, answer;
};
std::vector<GlRequest> glRequests();
void clearGlRequests();

// The recording OpenGL of this desktop. enable() offers it with "GL_EXT_bgra" and the
// three WGL extensions, and formats of 32 bits (0, 2 and 4 samples) and 16 bits.
struct GlPixelFormat {
  int32_t colour, red, green, blue, alpha, accum, depth, stencil, samples;
  bool accelerated;
};
void setOpenGlAvailable(bool available);  // opengl32.dll loads only while set
void setGlExtensions(const std::string& gl, const std::string& wgl);
void setGlFormats(const std::vector<GlPixelFormat>& formats);
// The calls made of it, in order: "glEnable 809d", "glDisable 809d", "swap",
// "context", "delete"; and the contexts that exist now.
std::vector<std::string> glCalls();
int32_t glContexts();

}  // namespace zv::vdesk
