#include "app/CSkinImages.h"

#include "app/ResourceIds.h"
#include "app/SkinImageData.h"

#include <wx/image.h>
#include <wx/mstream.h>

#include <cstring>

namespace {

struct Entry {
    int id;
    const char* file;
};

constexpr Entry kEntries[] = {
    {IDI_APP, "icon.png"},
    {IDI_APP_48, "icon-48.png"},
    {IDI_APP_64, "icon-64.png"},
    {IDI_APP_128, "icon-128.png"},
    {IDI_APP_256, "icon-256.png"},
    {IDB_BROWSE_IN, "browse-in.png"},
    {IDB_BROWSE_OUT, "browse-out.png"},
    {IDB_BROWSE_DISABLED, "browse-disabled.png"},
    {IDB_CLOSE_IN, "close-in.png"},
    {IDB_CLOSE_OUT, "close-out.png"},
    {IDB_CLOSE_DISABLED, "close-disabled.png"},
    {IDB_START_IN, "start-in.png"},
    {IDB_START_OUT, "start-out.png"},
    {IDB_START_DISABLED, "start-disabled.png"},
    {IDB_STOP_IN, "stop-in.png"},
    {IDB_STOP_OUT, "stop-out.png"},
    {IDB_STOP_DISABLED, "stop-disabled.png"},
    {IDB_INSTALL_IN, "install-in.png"},
    {IDB_INSTALL_OUT, "install-out.png"},
    {IDB_INSTALL_DISABLED, "install-disabled.png"},
    {IDB_CHECK_OFF, "checkbox-off.png"},
    {IDB_CHECK_ON, "checkbox-on.png"},
    {IDB_PROGRESS_BAR, "progress-bar.png"},
    {IDB_PROGRESS_BACKGROUND, "progress-background.png"},
    {IDB_FRAME_TOP, "frame-top.png"},
    {IDB_FRAME_BOTTOM, "frame-bottom.png"},
    {IDB_FRAME_LEFT, "frame-left.png"},
    {IDB_FRAME_RIGHT, "frame-right.png"},
    {IDB_GRAPH_BACKGROUND, "graph-background.png"},
};

const SkinImageFile* FindFile(const char* name)
{
    for (std::size_t i = 0; i < kSkinImageFileCount; ++i) {
        if (std::strcmp(kSkinImageFiles[i].name, name) == 0) return &kSkinImageFiles[i];
    }
    return nullptr;
}

const char* FileOf(int id)
{
    for (const Entry& entry : kEntries) {
        if (entry.id == id) return entry.file;
    }
    return nullptr;
}

} // namespace

wxString CSkinImages::FileName(int id)
{
    const char* file = FileOf(id);
    return file ? wxString(file) : wxString();
}

wxBitmap CSkinImages::Load(int id)
{
    const char* name = FileOf(id);
    const SkinImageFile* file = name ? FindFile(name) : nullptr;
    if (!file) return wxBitmap();
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxMemoryInputStream stream(file->data, file->size);
    wxImage image;
    if (!image.LoadFile(stream, wxBITMAP_TYPE_PNG)) return wxBitmap();
    return wxBitmap(image);
}
