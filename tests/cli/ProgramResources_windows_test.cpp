// What Windows reads from qvarchiwizator.exe before or without running it:
// the version Explorer shows, the manifest the loader applies, the icon of
// every size Explorer and the taskbar ask for. Each is read through the
// system's own calls, as Windows (here Wine) reads them.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string &utf8) { return qv::Utf8ToUtf16(utf8); }

std::string Narrow(const std::wstring &w) { return qv::Utf16ToUtf8(w); }

const std::wstring &Program()
{
    static const std::wstring path = Wide(QV_PROGRAM);
    return path;
}

// The project's version as four numbers, missing parts 0 ("1.0" -> 1,0,0,0).
std::vector<unsigned> ProjectVersion()
{
    std::vector<unsigned> parts;
    std::istringstream in(QV_PROJECT_VERSION);
    for (std::string part; std::getline(in, part, '.');)
        parts.push_back(static_cast<unsigned>(std::stoul(part)));
    parts.resize(4, 0);
    return parts;
}

struct ModuleDeleter {
    void operator()(HMODULE m) const { FreeLibrary(m); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleDeleter>;

// The program mapped for its resources only: nothing of it runs.
Module ProgramImage()
{
    return Module(LoadLibraryExW(Program().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::vector<ULONG_PTR> ResourceIds(HMODULE m, LPCWSTR type)
{
    std::vector<ULONG_PTR> ids;
    EnumResourceNamesW(
        m, type,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) -> BOOL {
            // A name rather than a number is kept as 0, which no number resource has.
            reinterpret_cast<std::vector<ULONG_PTR> *>(list)->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name)
                                                                                           : 0);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

std::string ResourceBytes(HMODULE m, LPCWSTR type, WORD id)
{
    const HRSRC found = FindResourceW(m, MAKEINTRESOURCEW(id), type);
    if (!found)
        return {};
    const HGLOBAL loaded = LoadResource(m, found);
    const auto *data = static_cast<const char *>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(m, found)) : std::string();
}

class VersionInfo {
public:
    VersionInfo()
    {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(Program().c_str(), &ignored);
        error_ = GetLastError();
        if (size == 0)
            return;
        block_.resize(size);
        if (!GetFileVersionInfoW(Program().c_str(), 0, size, block_.data())) {
            error_ = GetLastError();
            block_.clear();
        }
    }
    bool present() const { return !block_.empty(); }
    DWORD error() const { return error_; }
    const VS_FIXEDFILEINFO *fixed() const
    {
        void *p = nullptr;
        UINT n = 0;
        return VerQueryValueW(block_.data(), L"\\", &p, &n) && n >= sizeof(VS_FIXEDFILEINFO)
                   ? static_cast<const VS_FIXEDFILEINFO *>(p)
                   : nullptr;
    }
    std::vector<WORD> translation() const
    {
        void *p = nullptr;
        UINT n = 0;
        if (!VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &p, &n))
            return {};
        const auto *w = static_cast<const WORD *>(p);
        return std::vector<WORD>(w, w + n / sizeof(WORD));
    }
    // A value of the Polish, UTF-16 string table; "<none>" when it is missing.
    std::string text(const wchar_t *key) const
    {
        void *p = nullptr;
        UINT n = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\041504B0\\") + key;
        if (!VerQueryValueW(block_.data(), path.c_str(), &p, &n))
            return "<none>";
        return Narrow(static_cast<const wchar_t *>(p));
    }

private:
    std::vector<char> block_;
    DWORD error_ = 0;
};

std::vector<unsigned> Numbers(DWORD ms, DWORD ls) { return {HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls)}; }

}  // namespace

// What Explorer's "Details" tab and the installer's uninstall entry show.
TEST(ProgramResources, VersionInformationIsTheProjectsVersionInPolish)
{
    const VersionInfo info;
    ASSERT_TRUE(info.present()) << "no version information in " << QV_PROGRAM << " (error " << info.error() << ")";
    const VS_FIXEDFILEINFO *fixed = info.fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(Numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS), ProjectVersion());
    EXPECT_EQ(Numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS), ProjectVersion());
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "a release is neither debug, pre-release nor patched";

    // Polish (0x0415) in UTF-16 (1200), the one table the strings are in.
    EXPECT_EQ(info.translation(), (std::vector<WORD>{0x0415, 1200}));
    std::string fourParts;
    for (unsigned n : ProjectVersion())
        fourParts += (fourParts.empty() ? "" : ".") + std::to_string(n);
    EXPECT_EQ(info.text(L"FileVersion"), fourParts);
    EXPECT_EQ(info.text(L"ProductVersion"), QV_PROJECT_VERSION);
    EXPECT_EQ(info.text(L"ProductName"), "qvArchiwizator");
    EXPECT_EQ(info.text(L"OriginalFilename"), "qvarchiwizator.exe");
    EXPECT_EQ(info.text(L"InternalName"), "qvarchiwizator");
    EXPECT_EQ(info.text(L"CompanyName"), QV_PUBLISHER);
    EXPECT_EQ(info.text(L"LegalCopyright"), std::string("© ") + QV_PUBLISHER);
    // Polish letters and the dash come through as the text was written.
    EXPECT_EQ(info.text(L"FileDescription"), "qvArchiwizator – archiwizacja danych firm programu księgowego");
}

// One manifest, where the loader looks for a program's (type 24, number 1),
// which the system's activation context accepts with the settings it carries.
TEST(ProgramResources, ManifestIsTheLoadersAndGivesItsSettings)
{
    const Module image = ProgramImage();
    ASSERT_TRUE(image) << "cannot map " << QV_PROGRAM << " (error " << GetLastError() << ")";
    EXPECT_EQ(ResourceIds(image.get(), RT_MANIFEST), (std::vector<ULONG_PTR>{1}));
    const std::string manifest = ResourceBytes(image.get(), RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find(R"(<requestedExecutionLevel level="asInvoker")"), std::string::npos);
    for (const char *os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",    // 7
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",    // 8
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",    // 8.1
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})  // 10 and 11
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + os + "\"/>"), std::string::npos) << os;

    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = Program().c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    const HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the system refuses the manifest (error " << GetLastError() << ")";

    auto setting = [&](const wchar_t *space, const wchar_t *name) {
        wchar_t value[128] = {};
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, context, space, name, value, ARRAYSIZE(value), &written))
            return std::string("<none>");
        return Narrow(value);
    };
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              "PerMonitorV2, PerMonitor");
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"), "true/pm");
    // The ANSI code page stays the system's: the program never relies on it.
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2019/WindowsSettings", L"activeCodePage"), "<none>");

    // Inside the program's context the common controls are version 6's, from
    // the side-by-side store rather than the system folder's older ones. (Its
    // path tells, not DllGetVersion: Wine's version 6 DLL answers 5.81.)
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context, &cookie));
    const HMODULE controls = LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(controls, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(controls, path, MAX_PATH);
    CharLowerW(path);
    EXPECT_NE(std::wstring(path).find(L"\\winsxs\\"), std::wstring::npos) << Narrow(path);
    EXPECT_NE(std::wstring(path).find(L"_microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
        << Narrow(path);
    FreeLibrary(controls);
    DeactivateActCtx(0, cookie);
    ReleaseActCtx(context);
}

// The first icon group (the one Explorer shows) has every size Windows asks
// for, each a 32-bit image the system can turn into an icon of that size.
TEST(ProgramResources, IconHasEverySizeAndEachLoads)
{
    const Module image = ProgramImage();
    ASSERT_TRUE(image) << "cannot map " << QV_PROGRAM << " (error " << GetLastError() << ")";
    const std::vector<ULONG_PTR> groups = ResourceIds(image.get(), RT_GROUP_ICON);
    ASSERT_FALSE(groups.empty()) << "no icon";
    ASSERT_NE(groups.front(), 0u);
    const WORD group = static_cast<WORD>(groups.front());
    const std::string dir = ResourceBytes(image.get(), RT_GROUP_ICON, group);
    ASSERT_GE(dir.size(), 6u);

    // GRPICONDIR: reserved, type 1, count; then 14-byte entries.
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(dir[at]); };
    auto word = [&](std::size_t at) { return static_cast<unsigned>(byte(at) | byte(at + 1) << 8); };
    ASSERT_EQ(word(2), 1u);
    const unsigned count = word(4);
    ASSERT_EQ(dir.size(), 6u + 14u * count);
    std::vector<unsigned> sizes;
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t e = 6 + 14 * i;
        const unsigned width = byte(e) ? byte(e) : 256;
        SCOPED_TRACE(std::to_string(width) + " px");
        EXPECT_EQ(byte(e + 1) ? byte(e + 1) : 256u, width) << "not square";
        EXPECT_EQ(word(e + 6), 32u) << "not 32-bit";
        sizes.push_back(width);

        // The image itself, at its own size (0, 0): what the system decodes.
        const std::string bits = ResourceBytes(image.get(), RT_ICON, static_cast<WORD>(word(e + 12)));
        ASSERT_FALSE(bits.empty()) << "its image is missing";
        const HICON icon =
            CreateIconFromResourceEx(reinterpret_cast<PBYTE>(const_cast<char *>(bits.data())),
                                     static_cast<DWORD>(bits.size()), TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr) << "the system cannot decode it (error " << GetLastError() << ")";
        ICONINFO parts{};
        ASSERT_TRUE(GetIconInfo(icon, &parts));
        BITMAP colour{};
        ASSERT_NE(parts.hbmColor, nullptr);
        ASSERT_NE(GetObjectW(parts.hbmColor, sizeof colour, &colour), 0);
        EXPECT_EQ(colour.bmWidth, static_cast<LONG>(width));
        EXPECT_EQ(colour.bmHeight, static_cast<LONG>(width));
        DeleteObject(parts.hbmColor);
        DeleteObject(parts.hbmMask);
        DestroyIcon(icon);
    }
    EXPECT_EQ(sizes, (std::vector<unsigned>{16, 24, 32, 48, 256}));
}
