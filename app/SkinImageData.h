#pragma once
// The PNG files of res/, compiled into the program by the build
// (cmake/EmbedFiles.cmake), so the pictures travel with the executable.

#include <cstddef>

struct SkinImageFile {
    const char* name; // file name within res/
    const unsigned char* data;
    std::size_t size;
};

extern const SkinImageFile kSkinImageFiles[];
extern const std::size_t kSkinImageFileCount;
