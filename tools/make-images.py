#!/usr/bin/env python3
"""Draws the window's pictures into res/ with ImageMagick's convert.

Run it from anywhere after changing a colour, a size or a label:
    tools/make-images.py
The PNGs are committed, so neither the build nor CI needs ImageMagick or the
fonts. Every picture is plain 8-bit RGB; buttons are keyed on magenta
(#FF00FF), which the buttons draw transparently, so their outer edges are
drawn without smoothing: a blended edge pixel would no longer be magenta.
"""

import os
import subprocess
import sys
import tempfile

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
CJK_BOLD = "Noto-Sans-CJK-TC-Bold"
CJK = "Noto-Sans-CJK-TC"
LATIN_BOLD = "DejaVu-Sans-Bold"
KEY = "#FF00FF"

# The palette: deep navy panels, steel-blue accents, gold for the actions
# that move the user forward (the speed graph's bars are gold as well).
NAVY_DARK = "#09111C"
NAVY = "#0F1B2B"
NAVY_LIGHT = "#16263B"
EDGE = "#24405F"
ACCENT = "#2E8BE6"
LABEL = "#8FA9C8"
WELL = "#0A1320"
WELL_EDGE = "#1F3652"

WIDTH = 748
PANEL_X, PANEL_Y = 363, 20  # the right panel's place in the window


def convert(*args):
    subprocess.run([CONVERT, *map(str, args)], check=True)


def save(path_args, name):
    """The last step of every picture: RGB without metadata, so reruns are byte-stable."""
    out = os.path.join(RES, name)
    convert(*path_args, "-strip", "-alpha", "off", "-define", "png:color-type=2",
            "-define", "png:exclude-chunks=date,time", out)


def text(font, size, colour, x, y, words, gravity="NorthWest"):
    return ["-font", font, "-pointsize", size, "-fill", colour, "-gravity", gravity,
            "-annotate", f"+{x}+{y}", words, "-gravity", "NorthWest"]


def well(x, y, w, h):
    """A sunken field for a value text, in the picture's own coordinates."""
    return ["-fill", WELL, "-stroke", WELL_EDGE, "-strokewidth", 1,
            "-draw", f"roundrectangle {x},{y} {x + w - 1},{y + h - 1} 3,3", "-stroke", "none"]


def frame_pieces():
    save(["-size", f"{WIDTH}x21", f"gradient:{NAVY_LIGHT}-{NAVY}",
          "-fill", ACCENT, "-draw", f"rectangle 0,20 {WIDTH - 1},20",
          "-fill", "#1D3350", "-draw", f"rectangle 0,0 {WIDTH - 1},0",
          "-fill", ACCENT, "-draw", "rectangle 10,6 13,15",
          *text(LATIN_BOLD, 12, "#DDE8F5", 20, 3, "VX2 Downloader")], "frame-top.png")
    save(["-size", f"{WIDTH}x21", f"gradient:{NAVY}-{NAVY_DARK}",
          "-fill", EDGE, "-draw", f"rectangle 0,0 {WIDTH - 1},0",
          *text(LATIN_BOLD, 9, "#4A6684", 10, 5, "Ostrel Inc.")], "frame-bottom.png")
    save(["-size", "363x396", f"gradient:{NAVY_DARK}-{NAVY}",
          "-fill", "none", "-stroke", EDGE, "-draw", "rectangle 8,0 362,395",
          "-stroke", "none", "-fill", NAVY_DARK, "-draw", "rectangle 9,0 362,394"], "frame-left.png")

    # The right panel carries the captions of the value fields; the values
    # themselves are drawn over it by the transparent statics.
    def local(x, y):
        return x - PANEL_X, y - PANEL_Y

    args = ["-size", "385x396", f"gradient:{NAVY}-{NAVY_DARK}",
            "-fill", EDGE, "-draw", "rectangle 0,0 0,395"]
    captions = [((456, 28, 263), "檔案名稱"), ((456, 59, 263), "已下載"), ((456, 90, 263), "總容量"),
                ((456, 173, 270), "下載速度")]
    for (x, y, w), caption in captions:
        lx, ly = local(x, y)
        args += well(lx - 4, ly - 3, w + 8, 20)
        args += text(CJK, 12, LABEL, 385 - (lx - 12), ly - 2, caption, "NorthEast")
    for (x, y), caption in (((460, 134), "經過時間"), ((634, 134), "剩餘時間")):
        lx, ly = local(x, y)
        args += well(lx - 4, ly - 3, 93, 20)
        args += text(CJK, 12, LABEL, 385 - (lx - 12), ly - 2, caption, "NorthEast")
    for (x, y), caption in (((441, 282), "目前檔案"), ((441, 312), "全部進度")):
        lx, ly = local(x, y)
        args += text(CJK, 12, LABEL, 385 - (lx - 8), ly, caption, "NorthEast")
    lx, ly = local(447, 356)
    args += well(lx - 4, ly - 4, 209, 22)
    args += text(CJK, 12, LABEL, 385 - (lx - 12), ly - 2, "下載路徑", "NorthEast")
    for y in (99, 251, 321):
        args += ["-fill", "#1A2E47", "-draw", f"rectangle 20,{y} 364,{y}"]
    save(args, "frame-right.png")


def graph_background():
    args = ["-size", "342x69", f"gradient:{NAVY_DARK}-#060C14",
            "-fill", "none", "-stroke", WELL_EDGE, "-draw", "rectangle 0,0 341,68", "-stroke", "#132236"]
    for y in (17, 34, 51):
        args += ["-draw", f"line 1,{y} 340,{y}"]
    for x in range(57, 341, 57):
        args += ["-draw", f"line {x},1 {x},67"]
    save(args, "graph-background.png")


def progress():
    # The bar is tiled across the bar area; one column of a vertical
    # gradient with a bright top line tiles without seams.
    save(["-size", "8x16", "gradient:#4FB4FF-#1560B8",
          "-fill", "#9AD4FF", "-draw", "rectangle 0,0 7,0",
          "-fill", "#0E4A90", "-draw", "rectangle 0,15 7,15"], "progress-bar.png")
    save(["-size", "286x18", f"xc:{WELL}",
          "-fill", "none", "-stroke", WELL_EDGE, "-draw", "rectangle 0,0 285,17"], "progress-background.png")


BUTTON_STYLES = {
    # state: (gradient top, gradient bottom, border, label)
    "gold": {"in": ("#FFD466", "#E09A1C", "#FFE9A8", "#2A1A00"),
             "out": ("#F2B93B", "#C07A0E", "#FFD27A", "#2A1A00")},
    "steel": {"in": ("#4FA3F0", "#2464AE", "#A6D4FF", "#FFFFFF"),
              "out": ("#3379C4", "#1B4C86", "#5C9EE0", "#EAF3FF")},
    "red": {"in": ("#F0706A", "#B8322C", "#FFB3AE", "#FFFFFF"),
            "out": ("#D4534D", "#93231E", "#F08A84", "#FFF1F0")},
}
DISABLED = ("#3A4350", "#2A313B", "#4A5564", "#7A8490")


def button(name, w, h, label, style, size=13):
    looks = dict(BUTTON_STYLES[style], disabled=DISABLED)
    with tempfile.TemporaryDirectory() as tmp:
        mask = os.path.join(tmp, "mask.png")
        convert("-size", f"{w}x{h}", "xc:black", "+antialias", "-fill", "white",
                "-draw", f"roundrectangle 0,0 {w - 1},{h - 1} 5,5", mask)
        for state, (top, bottom, border, ink) in looks.items():
            body = os.path.join(tmp, "body.png")
            convert("-size", f"{w}x{h}", f"gradient:{top}-{bottom}", "-antialias",
                    "-fill", "#FFFFFF30", "-draw", f"rectangle 2,1 {w - 3},{h // 2 - 1}",
                    *text(CJK_BOLD, size, ink, 0, 0, label, "Center"), body)
            save(["-size", f"{w}x{h}", f"xc:{KEY}", body, mask, "-composite", "+antialias",
                  "-fill", "none", "-stroke", border, "-strokewidth", 1,
                  "-draw", f"roundrectangle 0,0 {w - 1},{h - 1} 5,5"], f"{name}-{state}.png")


def check_box():
    for name, fill, tick in (("checkbox-off", WELL, None), ("checkbox-on", ACCENT, "#FFFFFF")):
        args = ["-size", "13x13", f"xc:{fill}", "-fill", "none", "-stroke", "#5B86B8",
                "-draw", "rectangle 0,0 12,12"]
        if tick:
            args += ["-stroke", tick, "-strokewidth", 2, "-draw", "polyline 3,6 5,9 10,3"]
        save(args, f"{name}.png")


def icon():
    save(["-size", "32x32", f"xc:{NAVY}", "-fill", ACCENT, "-draw", "roundrectangle 1,1 30,30 6,6",
          "-fill", "#F2B93B", "-draw", "polygon 16,26 7,15 12,15 12,5 20,5 20,15 25,15"], "icon.png")


# The program's icon at the sizes of the desktop's icon theme, drawn at each
# size (not scaled from the 32 px one) and with transparent corners; the
# window carries them all and the package installs them under hicolor.
APP_ICON_SIZES = (48, 64, 128, 256)


def app_icons():
    for size in APP_ICON_SIZES:
        k = size / 32
        arrow = " ".join(f"{x * k:.1f},{y * k:.1f}" for x, y in
                         ((16, 26), (7, 15), (12, 15), (12, 5), (20, 5), (20, 15), (25, 15)))
        out = os.path.join(RES, f"icon-{size}.png")
        convert("-size", f"{size}x{size}", "xc:none",
                "-fill", NAVY, "-draw", f"roundrectangle 0,0 {size - 1},{size - 1} {7 * k:.1f},{7 * k:.1f}",
                "-fill", ACCENT, "-draw", f"roundrectangle {k:.1f},{k:.1f} {size - 1 - k:.1f},{size - 1 - k:.1f} "
                                          f"{6 * k:.1f},{6 * k:.1f}",
                "-fill", "#F2B93B", "-draw", f"polygon {arrow}",
                "-strip", "-define", "png:color-type=6", "-define", "png:exclude-chunks=date,time", out)


def main():
    os.makedirs(RES, exist_ok=True)
    frame_pieces()
    graph_background()
    progress()
    for name, w, h, label, style in (("start", 110, 24, "開始下載", "gold"),
                                     ("stop", 110, 24, "停止下載", "red"),
                                     ("install", 110, 24, "安裝", "gold"),
                                     ("close", 110, 24, "關閉", "steel"),
                                     ("browse", 60, 22, "瀏覽", "steel")):
        button(name, w, h, label, style, 12 if h < 24 else 13)
    check_box()
    icon()
    app_icons()
    return 0


if __name__ == "__main__":
    sys.exit(main())
