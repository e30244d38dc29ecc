// placeholder until implemented
#include "runtime/file_channel.h"
namespace zv { int32_t close_all_channels() { return 0; } }
