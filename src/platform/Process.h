#pragma once

namespace palisor {

// Makes the process non-dumpable, first thing in main: it holds the FTP password, so no core
// dump may keep a copy, and no other process of the user may read its memory.
void KeepOutOfCoreDumps();

}  // namespace palisor
