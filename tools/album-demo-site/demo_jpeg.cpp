#include "tools/album-demo-site/demo_jpeg.h"

#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>

namespace ah {

namespace {

// SplitMix32-style generator: tiny, fast and identical on every platform,
// which std::uniform_int_distribution is not.
class Rng {
 public:
  explicit Rng(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
  uint32_t Next() {
    uint32_t z = (state_ += 0x9E3779B9u);
    z = (z ^ (z >> 16)) * 0x85EBCA6Bu;
    z = (z ^ (z >> 13)) * 0xC2B2AE35u;
    return z ^ (z >> 16);
  }
  int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1)); }

 private:
  uint32_t state_;
};

struct Rgb {
  int r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  return {static_cast<int>(a.r + (b.r - a.r) * t), static_cast<int>(a.g + (b.g - a.g) * t),
          static_cast<int>(a.b + (b.b - a.b) * t)};
}

unsigned char Clamp(int v) { return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v); }

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

std::vector<unsigned char> Paint(uint32_t seed, int width, int height) {
  Rng rng(seed);
  Rgb sky_top{rng.Range(20, 120), rng.Range(60, 160), rng.Range(150, 255)};
  Rgb sky_low{rng.Range(180, 255), rng.Range(120, 230), rng.Range(90, 200)};
  Rgb hill{rng.Range(20, 90), rng.Range(70, 150), rng.Range(20, 80)};
  Rgb sea{rng.Range(0, 60), rng.Range(60, 130), rng.Range(110, 200)};
  double sun_x = rng.Range(10, 90) / 100.0 * width;
  double sun_y = rng.Range(10, 40) / 100.0 * height;
  double sun_r = rng.Range(4, 10) / 100.0 * height;
  double horizon = rng.Range(50, 70) / 100.0 * height;
  double sea_line = horizon + rng.Range(10, 20) / 100.0 * height;
  double wave = rng.Range(2, 8) / 100.0 * height;
  double freq = rng.Range(2, 7) * 3.14159265 / width;
  double phase = rng.Range(0, 628) / 100.0;

  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb c;
      double ridge = horizon - wave * std::sin(x * freq + phase) - wave / 2 * std::sin(x * freq * 3.1);
      if (y > sea_line) {
        double t = (y - sea_line) / (height - sea_line + 1);
        c = Mix(sea, {sea.r / 3, sea.g / 3, sea.b / 2}, t);
        if (((y * 7 + x / 5) % 23) == 0) c = Mix(c, {255, 255, 255}, 0.4);
      } else if (y > ridge) {
        c = Mix(hill, {hill.r / 2, hill.g / 2, hill.b / 2}, (y - ridge) / (sea_line - ridge + 1));
      } else {
        c = Mix(sky_top, sky_low, static_cast<double>(y) / horizon);
        double dx = x - sun_x, dy = y - sun_y;
        double d = std::sqrt(dx * dx + dy * dy);
        if (d < sun_r)
          c = {255, 240, 190};
        else if (d < sun_r * 2)
          c = Mix({255, 230, 170}, c, (d - sun_r) / sun_r);
      }
      int grain = static_cast<int>(rng.Next() % 25) - 12;
      unsigned char* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = Clamp(c.r + grain);
      p[1] = Clamp(c.g + grain);
      p[2] = Clamp(c.b + grain);
    }
  }
  return pixels;
}

}  // namespace

std::string MakeDemoJpeg(uint32_t seed, int width, int height, int quality) {
  std::vector<unsigned char> pixels = Paint(seed, width, height);

  jpeg_compress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnJpegError;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  // Nothing with a destructor may live between setjmp and a longjmp to it.
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    throw std::runtime_error("JPEG encoding failed");
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = &pixels[static_cast<size_t>(info.next_scanline) * width * 3];
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return out;
}

}  // namespace ah
