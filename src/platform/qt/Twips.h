#pragma once

#include <cmath>

namespace palisor {

// A twip is 1/1440 inch: 15 of them make one pixel at 96 dpi, fewer on a denser screen.
inline int TwipsToPixels(int twips, double logicalDpi) {
  return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}

}  // namespace palisor
