#pragma once
// A password given as an argument is hidden from the process's argument
// list, which every local user reads through ps and /proc, as curl hides
// its own: "--password secret" shows as "--password ***".

#include <cstddef>

namespace ah {

// Replaces argument `index` of main's `argv` (0 is the program), from byte
// `offset` on, with "***" in the memory the system shows. The strings after
// it move up to close the gap, and `argv` keeps pointing at them. A value
// shorter than three bytes becomes as many "*".
void HideArgument(int argc, char** argv, int index, size_t offset);

}  // namespace ah
