#pragma once
// The window's pictures by number (ResourceIds.h).

#include <wx/bitmap.h>
#include <wx/string.h>

class CSkinImages {
public:
    // The picture, or an invalid bitmap for a number that names none.
    static wxBitmap Load(int id);
    // The file name of the picture within res/; empty for an unknown number.
    static wxString FileName(int id);
};
