#include "platform/Process.h"

#include <sys/prctl.h>

namespace palisor {

void KeepOutOfCoreDumps() {
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace palisor
