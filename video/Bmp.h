#pragma once
// Windows bitmap files: reading the uncompressed kinds a picture file is
// found in (1, 4, 8 bits with a colour table, 16 bits 5-5-5, 24 and 32
// bits; rows bottom-up or top-down) into a 24-bit picture, and writing a
// picture as a 24-bit file.
#include <string>

#include "app/Picture.h"

namespace zv {

// False (and pic untouched) when the file is missing, truncated or not a
// kind listed above; error says why.
bool LoadBmp(const std::string& path, TPicture& pic, std::string* error = nullptr);
bool LoadBmpFromMemory(const std::string& bytes, TPicture& pic, std::string* error = nullptr);
bool SaveBmp(const std::string& path, const TPicture& pic);
std::string EncodeBmp(const TPicture& pic);

}  // namespace zv
