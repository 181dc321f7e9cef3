// The 32-bit program's resources as Windows reads them, the splash as it draws them, the
// version as Explorer shows it, and its signature as Windows judges it.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/e2e/e2e.h"

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

static void TheResourcesAre(HMODULE module)
{
    gCase = "the splash dialog";
    DWORD size = 0;
    if (const BYTE* dialog = Resource(module, RT_DIALOG, IDD_SPLASH, &size)) {
        Reader r = {dialog};
        CHECK(r.Word() == 1 && r.Word() == 0xFFFF, "an extended template");
        r.Dword();
        DWORD exStyle = r.Dword(), style = r.Dword();
        CHECK(style == 0x900008C4, "style %08lx", style);
        CHECK(exStyle == 0, "extended style %08lx", exStyle);
        WORD items = r.Word();
        CHECK(items == 1, "%u controls", items);
        short x = r.Word(), y = r.Word(), cx = r.Word(), cy = r.Word();
        CHECK(x == 0 && y == 0 && cx == SPLASH_WIDTH && cy == SPLASH_HEIGHT, "%d,%d %dx%d", x, y,
              cx, cy);
        CHECK(r.Word() == 0 && r.Word() == 0 && r.Word() == 0, "no menu, class or caption");
        WORD points = r.Word(), weight = r.Word();
        BYTE italic = r.at[0], charset = r.at[1];
        r.at += 2;
        std::string face = r.Text();
        CHECK(points == 8 && weight == 0 && italic == 0 && charset == 1 && face == "Tahoma",
              "font %s %u pt, weight %u, italic %u, character set %u", face.c_str(), points,
              weight, italic, charset);
        r.Align();
        gCase = "the splash dialog's picture";
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
        CHECK(id == IDC_SPLASH_IMAGE, "id %lu", id);
        CHECK(itemStyle == 0x5000020E && itemExStyle == 0x20, "style %08lx, extended %08lx",
              itemStyle, itemExStyle);
        CHECK(ix == 0 && iy == 0 && icx == SPLASH_WIDTH && icy == SPLASH_HEIGHT, "%d,%d %dx%d", ix,
              iy, icx, icy);
        CHECK(_stricmp(className.c_str(), "static") == 0, "class %s", className.c_str());
        CHECK(titleMark == 0xFFFF && image == IDB_SPLASH, "image %04x %u", titleMark, image);
    }

    gCase = "the splash bitmap";
    if (const BYTE* bitmap = Resource(module, RT_BITMAP, IDB_SPLASH, &size)) {
        BITMAPINFOHEADER header;
        memcpy(&header, bitmap, sizeof header);
        CHECK(header.biWidth == 137 && header.biHeight == 101 && header.biBitCount == 8 &&
                  header.biCompression == BI_RGB,
              "%ldx%ld, %u bits, compression %lu", header.biWidth, header.biHeight,
              header.biBitCount, header.biCompression);
    }

    gCase = "the icon group";
    if (const BYTE* group = Resource(module, RT_GROUP_ICON, IDI_MAIN, &size)) {
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
    HWND dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_SPLASH), NULL, QuietDialog, 0);
    CHECK(dialog != NULL, "the splash dialog could not be created: %lu", GetLastError());
    if (!dialog)
        return;
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    for (int i = 0; i < 30; ++i) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    RECT client, units = {0, 0, SPLASH_WIDTH, SPLASH_HEIGHT}, frame;
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
        LoadImageA(module, MAKEINTRESOURCEA(IDB_SPLASH), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
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

// The 32-bit program's resources, and its splash as Windows draws them.
void TheResourcesAreAsWindowsSeesThem()
{
    HMODULE module = LoadLibraryExA(gLauncher32.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    gCase = "32-bit launcher.exe";
    CHECK(module != NULL, "cannot read %s", gLauncher32.c_str());
    if (!module)
        return;
    TheResourcesAre(module);
    TheSplashShowsTheLogoCentred(module);
    FreeLibrary(module);
}

// A module of the system folder, by its full path: where this driver runs elevated from a
// folder others may write, no copy of it there may load in its place.
static HMODULE SystemModule(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + strlen(name) >= MAX_PATH)
        return NULL;
    strcat(path, "\\");
    strcat(path, name);
    return LoadLibraryExA(path, NULL, 0);
}

template <typename Function>
static Function SystemCall(const char* module, const char* name)
{
    return SystemModule(module) ? CallOf<Function>(module, name) : NULL;
}

static const char* const kVersionNames[] = {"FileDescription", "FileVersion", "ProductName",
                                            "ProductVersion", "CompanyName", "LegalCopyright",
                                            "OriginalFilename", "InternalName"};

// The version strings as Explorer's Properties and the consent prompt read them (US English,
// code page 1252), and the fixed version's numbers; false where there is no version resource.
static bool ReadVersion(const char* path, std::vector<std::string>* texts, DWORD numbers[4])
{
    typedef DWORD(WINAPI * SizeFunction)(LPCSTR, LPDWORD);
    typedef BOOL(WINAPI * InfoFunction)(LPCSTR, DWORD, DWORD, LPVOID);
    typedef BOOL(WINAPI * QueryFunction)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    auto size = SystemCall<SizeFunction>("version.dll", "GetFileVersionInfoSizeA");
    auto info = SystemCall<InfoFunction>("version.dll", "GetFileVersionInfoA");
    auto query = SystemCall<QueryFunction>("version.dll", "VerQueryValueA");
    static char data[4096];
    DWORD length = size && info && query ? size(path, NULL) : 0;
    if (length == 0 || length > sizeof data || !info(path, 0, length, data))
        return false;
    for (const char* name : kVersionNames) {
        char item[64];
        snprintf(item, sizeof item, "\\StringFileInfo\\040904E4\\%s", name);
        char* value = NULL;
        UINT count = 0;
        query(data, item, reinterpret_cast<void**>(&value), &count);
        texts->push_back(value && count ? value : "");
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT count = 0;
    if (!query(data, "\\", reinterpret_cast<void**>(&fixed), &count) || !fixed)
        return false;
    DWORD parts[4] = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    memcpy(numbers, parts, sizeof parts);
    return true;
}

int PrintVersionInfo(const char* path)
{
    std::vector<std::string> texts;
    DWORD numbers[4];
    if (!ReadVersion(path, &texts, numbers)) {
        printf("%s: no version resource\n", path);
        return 1;
    }
    for (size_t i = 0; i < texts.size(); ++i)
        printf("%s: %s\n", kVersionNames[i], texts[i].empty() ? "(none)" : texts[i].c_str());
    return 0;
}

// "<40 hex digits>", with ".dirty" after them for a tree with changes, or "unknown".
static bool NamesACommit(const std::string& text)
{
    std::string digits = text.substr(0, 40);
    return text == "unknown" ||
           (digits.size() == 40 && digits.find_first_not_of("0123456789abcdef") == std::string::npos &&
            (text.size() == 40 || text.substr(40) == ".dirty"));
}

// The consent prompt names the program by its FileDescription; Explorer's Details show the
// versions: the numbers as text, and the product's with the commit it was built from.
void TheVersionIsAsWindowsReadsIt()
{
    gCase = "the version";
    std::vector<std::string> texts;
    DWORD n[4] = {};
    bool read = ReadVersion(gLauncher32.c_str(), &texts, n);
    CHECK(read, "Windows reads no version resource in %s", gLauncher32.c_str());
    if (!read)
        return;
    PrintVersionInfo(gLauncher32.c_str());
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%lu.%lu.%lu", n[0], n[1], n[2]);
    const std::string &description = texts[0], &file = texts[1], &product = texts[3];
    CHECK(!description.empty(), "no FileDescription for the consent prompt");
    CHECK(file == numbers && n[3] == 0, "FileVersion %s, the numbers %s.%lu", file.c_str(),
          numbers, n[3]);
    CHECK(product.compare(0, file.size() + 1, file + "+") == 0 &&
              NamesACommit(product.substr(std::min(product.size(), file.size() + 1))),
          "ProductVersion %s", product.c_str());
    CHECK(texts[6] == "launcher.exe", "OriginalFilename %s", texts[6].c_str());
}

long VerifySignature(const std::wstring& path, std::string* signer)
{
    typedef LONG(WINAPI * VerifyFunction)(HWND, GUID*, LPVOID);
    typedef CRYPT_PROVIDER_DATA*(WINAPI * ProviderFunction)(HANDLE);
    typedef CRYPT_PROVIDER_SGNR*(WINAPI * SignerFunction)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
    typedef DWORD(WINAPI * NameFunction)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPSTR, DWORD);
    auto verify = SystemCall<VerifyFunction>("wintrust.dll", "WinVerifyTrust");
    auto provider = SystemCall<ProviderFunction>("wintrust.dll", "WTHelperProvDataFromStateData");
    auto signerOf = SystemCall<SignerFunction>("wintrust.dll", "WTHelperGetProvSignerFromChain");
    auto name = SystemCall<NameFunction>("crypt32.dll", "CertGetNameStringA");
    signer->clear();
    if (!verify)
        return TRUST_E_PROVIDER_UNKNOWN;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;  // nothing fetched: a kit may run offline
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    CRYPT_PROVIDER_DATA* state = provider ? provider(data.hWVTStateData) : NULL;
    CRYPT_PROVIDER_SGNR* first = state && signerOf ? signerOf(state, 0, FALSE, 0) : NULL;
    char subject[256] = "";
    if (first && first->csCertChain > 0 && first->pasCertChain && name)
        name(first->pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, NULL, subject,
             sizeof subject);
    *signer = subject;
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result;
}

// A signed launcher.exe is one Windows trusts (revocation not asked): as its publisher the
// consent prompt names the release certificate's holder. An unsigned one shows nothing.
void WindowsTrustsTheSignature()
{
    gCase = "the signature";
    std::string signer;
    long result = VerifySignature(Widen(gLauncher), &signer);
    if (result == TRUST_E_NOSIGNATURE) {
        SkipRow(gCase, "launcher.exe is not signed (scripts/kit.sh --launcher <a signed "
                       "launcher.exe> makes a kit of a signed one)");
        return;
    }
    printf("the signature: WinVerifyTrust gave 0x%08lX; signed by \"%s\"\n",
           static_cast<unsigned long>(result), signer.c_str());
    CHECK(result == 0, "Windows does not trust the signature: WinVerifyTrust gave 0x%08lX",
          static_cast<unsigned long>(result));
    CHECK(!signer.empty(), "no signer named");
}
