// What a picture is, for everything that draws or encodes one.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/platform.h"

namespace vexorin {

// The longest number a picture shows (GenerateRnd asks for at most this many digits).
constexpr LONG kMaxPictureDigits = 9;

// Pictures of more pixels than this are refused before anything is allocated or written.
constexpr std::size_t kMaxPicturePixels = std::size_t{1} << 30;

// The picture's size, worked out once per call and handed down to everything that draws or encodes.
struct PictureSize {
  LONG width = 0;
  LONG height = 0;
  std::size_t bytes = 0;  // width x height gray bytes
};

// A gray canvas of the picture, owned by whoever asked for it.
struct Canvas {
  PictureSize size;
  std::unique_ptr<BYTE[]> pixels;
};

}  // namespace vexorin
