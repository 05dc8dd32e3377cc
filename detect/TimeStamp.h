#pragma once
// The capture time drawn over a played-back picture: a small built-in
// digit font, so that the stamp goes into the picture itself without any
// toolkit.  Only digits, '.', ':', '-', '/' and blanks are drawn.
#include <string>

#include "app/Picture.h"

namespace zv {

constexpr int kStampGlyphWidth = 5, kStampGlyphHeight = 7, kStampGap = 1;

// Width in pixels of text in the stamp font.
int StampTextWidth(const std::string& text);
// Draws text right-aligned 2 pixels from the right edge at y = 2 (from the
// top), green (RGB 0,128,0) on a transparent background; clipped to the
// picture.
void DrawTimeStamp(TPicture& picture, const std::string& text);

}  // namespace zv
