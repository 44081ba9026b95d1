#pragma once
// Generated photos for the demo image host: real baseline JPEG files made
// with libjpeg, different for every seed and the same bytes for the same
// seed and size (tests compare saved files with what the host served).

#include <cstdint>
#include <string>

namespace ah {

// A landscape-like picture (sky, sun, hills, sea, grain) of width x height
// pixels, encoded at the given quality. About 30-60 KiB at 512 x 384.
std::string MakeDemoJpeg(uint32_t seed, int width, int height, int quality = 85);

}  // namespace ah
