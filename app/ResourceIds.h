#pragma once
// Numbers of the window's pictures. The dialog and the controls name a
// picture by number; CSkinImages finds the picture behind each.

constexpr int IDI_APP = 128;
// The same icon at the sizes of the desktop's icon theme.
constexpr int IDI_APP_48 = 129;
constexpr int IDI_APP_64 = 130;
constexpr int IDI_APP_128 = 131;
constexpr int IDI_APP_256 = 132;

constexpr int IDB_BROWSE_IN = 164;
constexpr int IDB_BROWSE_OUT = 165;
constexpr int IDB_BROWSE_DISABLED = 166;
constexpr int IDB_CLOSE_OUT = 171;
constexpr int IDB_CLOSE_DISABLED = 172;
constexpr int IDB_CLOSE_IN = 173;
constexpr int IDB_START_OUT = 174;
constexpr int IDB_START_DISABLED = 175;
constexpr int IDB_START_IN = 176;
constexpr int IDB_CHECK_OFF = 177;
constexpr int IDB_CHECK_ON = 178;
constexpr int IDB_PROGRESS_BAR = 179;
constexpr int IDB_PROGRESS_BACKGROUND = 180;
constexpr int IDB_FRAME_TOP = 187;
constexpr int IDB_FRAME_BOTTOM = 188;
constexpr int IDB_FRAME_LEFT = 189;
constexpr int IDB_FRAME_RIGHT = 190;
constexpr int IDB_STOP_IN = 191;
constexpr int IDB_STOP_OUT = 192;
constexpr int IDB_STOP_DISABLED = 193;
constexpr int IDB_INSTALL_IN = 197;
constexpr int IDB_INSTALL_DISABLED = 198;
constexpr int IDB_INSTALL_OUT = 199;
constexpr int IDB_GRAPH_BACKGROUND = 200;
