// The 32-bit program's resources as Windows reads them, the splash as it draws them, and the
// version as Explorer shows it.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/wine/e2e.h"

// ---- the 32-bit program's resources --------------------------------------------------

static const BYTE* Resource(HMODULE module, LPCSTR type, int id, DWORD* size)
{
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    CHECK(found != NULL, "resource %d of type %d in English (United States)", id,
          static_cast<int>(reinterpret_cast<ULONG_PTR>(type)));
    if (!found)
        return NULL;
    *size = SizeofResource(module, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
}

struct Reader {
    const BYTE* at;
    WORD Word() { WORD v; memcpy(&v, at, 2); at += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, at, 4); at += 4; return v; }
    std::string Text()
    {
        std::string text;
        for (WORD c; (c = Word()) != 0;)
            text += static_cast<char>(c);
        return text;
    }
    void Align() { at = reinterpret_cast<const BYTE*>((reinterpret_cast<ULONG_PTR>(at) + 3) & ~3); }
};

void TheResourcesAreAsWindowsSeesThem(HMODULE module)
{
    gCase = "dialog 103";
    DWORD size = 0;
    if (const BYTE* dialog = Resource(module, RT_DIALOG, 103, &size)) {
        Reader r = {dialog};
        CHECK(r.Word() == 1 && r.Word() == 0xFFFF, "an extended template");
        r.Dword();
        DWORD exStyle = r.Dword(), style = r.Dword();
        CHECK(style == 0x900008C4, "style %08lx", style);
        CHECK(exStyle == 0, "extended style %08lx", exStyle);
        WORD items = r.Word();
        CHECK(items == 1, "%u controls", items);
        short x = r.Word(), y = r.Word(), cx = r.Word(), cy = r.Word();
        CHECK(x == 0 && y == 0 && cx == 198 && cy == 71, "%d,%d %dx%d", x, y, cx, cy);
        CHECK(r.Word() == 0 && r.Word() == 0 && r.Word() == 0, "no menu, class or caption");
        WORD points = r.Word(), weight = r.Word();
        BYTE italic = r.at[0], charset = r.at[1];
        r.at += 2;
        std::string face = r.Text();
        CHECK(points == 8 && weight == 0 && italic == 0 && charset == 1 && face == "Tahoma",
              "font %s %u pt, weight %u, italic %u, character set %u", face.c_str(), points,
              weight, italic, charset);
        r.Align();
        gCase = "control 1001";
        r.Dword();
        DWORD itemExStyle = r.Dword(), itemStyle = r.Dword();
        short ix = r.Word(), iy = r.Word(), icx = r.Word(), icy = r.Word();
        DWORD id = r.Dword();
        // rc writes the static class as its atom, windres as its name.
        std::string className;
        if (r.at[0] == 0xFF && r.at[1] == 0xFF) {
            r.Word();
            className = r.Word() == 0x0082 ? "static" : "?";
        } else {
            className = r.Text();
        }
        WORD titleMark = r.Word(), image = r.Word();
        CHECK(id == 1001, "id %lu", id);
        CHECK(itemStyle == 0x5000020E && itemExStyle == 0x20, "style %08lx, extended %08lx",
              itemStyle, itemExStyle);
        CHECK(ix == 0 && iy == 0 && icx == 198 && icy == 71, "%d,%d %dx%d", ix, iy, icx, icy);
        CHECK(_stricmp(className.c_str(), "static") == 0, "class %s", className.c_str());
        CHECK(titleMark == 0xFFFF && image == 114, "image %04x %u", titleMark, image);
    }

    gCase = "bitmap 114";
    if (const BYTE* bitmap = Resource(module, RT_BITMAP, 114, &size)) {
        BITMAPINFOHEADER header;
        memcpy(&header, bitmap, sizeof header);
        CHECK(header.biWidth == 137 && header.biHeight == 101 && header.biBitCount == 8 &&
                  header.biCompression == BI_RGB,
              "%ldx%ld, %u bits, compression %lu", header.biWidth, header.biHeight,
              header.biBitCount, header.biCompression);
    }

    gCase = "icon group 117";
    if (const BYTE* group = Resource(module, RT_GROUP_ICON, 117, &size)) {
        Reader r = {group};
        r.Word();
        WORD type = r.Word(), count = r.Word();
        CHECK(type == 1 && count == 2, "type %u, %u images", type, count);
        const int sizes[2] = {32, 16};
        for (int i = 0; i < count && i < 2; ++i) {
            BYTE width = r.at[0], height = r.at[1], colours = r.at[2];
            r.at += 4;
            r.Word();
            WORD bits = r.Word();
            r.Dword();
            WORD id = r.Word();
            CHECK(width == sizes[i] && height == sizes[i] && colours == 16 && bits == 4 &&
                      id == i + 1,
                  "image %d: %ux%u, %u colours, %u bits, icon %u", i, width, height, colours,
                  bits, id);
            DWORD iconSize = 0;
            Resource(module, RT_ICON, id, &iconSize);
        }
    }
}

// ---- the splash as Windows draws it --------------------------------------------------

static INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Top-down 32-bit pixels of a bitmap.
static std::vector<DWORD> Pixels(HDC dc, HBITMAP bitmap, int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height, 0);
    GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    for (DWORD& pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

static void SaveBitmap(const std::string& path, const std::vector<DWORD>& pixels, int width,
                       int height)
{
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size() * 4);
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(&file, sizeof file, 1, f);
        fwrite(&header, sizeof header, 1, f);
        fwrite(pixels.data(), 4, pixels.size(), f);
        fclose(f);
    }
}

// Shows dialog 103 from the program's own resources, copies it off the screen, and finds
// where bitmap 114 sits in it: it must be whole and centred in the client area.
void TheSplashShowsTheLogoCentred(HMODULE module)
{
    gCase = "splash picture";
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(103), NULL, QuietDialog, 0);
    CHECK(dialog != NULL, "dialog 103 could not be created: %lu", GetLastError());
    if (!dialog)
        return;
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    for (int i = 0; i < 30; ++i) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    RECT client, units = {0, 0, 198, 71}, frame;
    GetClientRect(dialog, &client);
    MapDialogRect(dialog, &units);
    CHECK(client.right == units.right && client.bottom == units.bottom,
          "client %ldx%ld, dialog units give %ldx%ld", client.right, client.bottom, units.right,
          units.bottom);
    GetWindowRect(dialog, &frame);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, old);
    std::vector<DWORD> shot = Pixels(memory, picture, width, height);
    SaveBitmap(gPicture, shot, width, height);

    const int logoWidth = 137, logoHeight = 101;
    HBITMAP logo = static_cast<HBITMAP>(
        LoadImageA(module, MAKEINTRESOURCEA(114), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    std::vector<DWORD> expected = Pixels(memory, logo, logoWidth, logoHeight);
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    int centreX = origin.x - frame.left + (client.right - logoWidth) / 2;
    int centreY = origin.y - frame.top + (client.bottom - logoHeight) / 2;
    int bestX = 0, bestY = 0;
    size_t bestMatches = 0;
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            size_t matches = 0;
            for (int y = 0; y < logoHeight; ++y) {
                for (int x = 0; x < logoWidth; ++x) {
                    int sx = centreX + dx + x, sy = centreY + dy + y;
                    if (sx >= 0 && sy >= 0 && sx < width && sy < height &&
                        shot[static_cast<size_t>(sy) * width + sx] ==
                            expected[static_cast<size_t>(y) * logoWidth + x])
                        ++matches;
                }
            }
            if (matches > bestMatches) {
                bestMatches = matches;
                bestX = dx;
                bestY = dy;
            }
        }
    }
    double share = 100.0 * static_cast<double>(bestMatches) / (logoWidth * logoHeight);
    printf("splash: window %dx%d, client %ldx%ld; logo found %d,%d from the centre, %.1f%% of "
           "its pixels as drawn; picture %s\n",
           width, height, client.right, client.bottom, bestX, bestY, share, gPicture.c_str());
    CHECK(share >= 99.0, "only %.1f%% of the logo's pixels are on the screen", share);
    CHECK(abs(bestX) <= 1 && abs(bestY) <= 1, "logo off centre by %d,%d", bestX, bestY);
    DeleteObject(logo);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    DestroyWindow(dialog);
}

// The version as Explorer's Properties and the consent prompt read it.
int PrintVersionInfo(const char* path)
{
    static char data[4096];
    DWORD size = GetFileVersionInfoSizeA(path, NULL);
    if (size == 0 || size > sizeof data || !GetFileVersionInfoA(path, 0, size, data)) {
        printf("%s: no version resource\n", path);
        return 1;
    }
    const char* names[] = {"FileDescription", "FileVersion", "ProductName", "ProductVersion",
                           "CompanyName", "LegalCopyright", "OriginalFilename", "InternalName"};
    for (const char* name : names) {
        char query[64];
        snprintf(query, sizeof query, "\\StringFileInfo\\040904E4\\%s", name);
        char* value = NULL;
        UINT length = 0;
        VerQueryValueA(data, query, reinterpret_cast<void**>(&value), &length);
        printf("%s: %s\n", name, value && length ? value : "(none)");
    }
    return 0;
}
