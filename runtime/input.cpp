// placeholder until implemented
#include "runtime/input.h"
#include "runtime/runtime.h"
namespace zv { InputContext* input_context() { return static_cast<InputContext*>(context_area(AREA_INPUT, sizeof(InputContext))); }
int32_t line_input_sequence(StringDesc*, StringDesc*, int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; } }
