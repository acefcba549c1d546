#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/Handles.h"
#include "common/Utf.h"

namespace orivanta {
namespace {

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t BigEndian32(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

std::string ResourceBytes(HMODULE module, int id, LPCWSTR type) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return {};
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr) return {};
    return std::string(static_cast<const char*>(data), ::SizeofResource(module, found));
}

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

// The built program, opened as data: its resources as the window will load them.
class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override {
        const char* exe = std::getenv("ORIVANTA_EXE");
        if (exe == nullptr) GTEST_SKIP() << "ORIVANTA_EXE is not set";
        const std::wstring path = L"Z:" + Utf8ToUtf16(exe);
        program_ = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(program_, nullptr);
    }
    void TearDown() override {
        if (program_ != nullptr) ::FreeLibrary(program_);
    }
    HMODULE program_ = nullptr;
};

TEST_F(ProgramResources, SupportQrIsA136PixelUncompressed24BitBitmap) {
    const std::string raw = ResourceBytes(program_, 102, RT_BITMAP);
    ASSERT_EQ(raw.size(), 55528u);
    BITMAPINFOHEADER header{};
    std::memcpy(&header, raw.data(), sizeof header);
    EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(header.biWidth, 136);
    EXPECT_EQ(header.biHeight, 136);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));

    UniqueGdiObject section(::LoadImageW(program_, MAKEINTRESOURCEW(102), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_TRUE(section);
    DIBSECTION dib{};
    ASSERT_EQ(::GetObjectW(section.get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, 136);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
    // Only black modules on white: a QR image, not a photo or a blank.
    const auto* pixels = static_cast<const unsigned char*>(dib.dsBm.bmBits);
    int black = 0;
    int white = 0;
    for (int y = 0; y < 136; ++y) {
        for (int x = 0; x < 136 * 3; ++x) {
            const unsigned char value = pixels[y * dib.dsBm.bmWidthBytes + x];
            if (value == 0) ++black;
            if (value == 255) ++white;
        }
    }
    EXPECT_EQ(black + white, 136 * 136 * 3);
    EXPECT_GT(black, 136 * 136 * 3 / 10);
    EXPECT_GT(white, 136 * 136 * 3 / 2);
}

TEST_F(ProgramResources, LogoIsA361By92PngWithAlpha) {
    const std::string png = ResourceBytes(program_, 103, RT_RCDATA);
    ASSERT_GT(png.size(), 33u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(png.data());
    EXPECT_EQ(std::memcmp(bytes, kPngSignature, sizeof kPngSignature), 0);
    EXPECT_EQ(std::memcmp(bytes + 12, "IHDR", 4), 0);
    EXPECT_EQ(BigEndian32(bytes + 16), 361u);
    EXPECT_EQ(BigEndian32(bytes + 20), 92u);
    EXPECT_EQ(bytes[24], 8) << "bits per channel";
    EXPECT_EQ(bytes[25], 6) << "colour type RGBA";
}

TEST_F(ProgramResources, IconGroupHoldsSevenPngCompressed32BitSizes) {
    const std::string group = ResourceBytes(program_, 101, RT_GROUP_ICON);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader));
    GroupIconHeader header{};
    std::memcpy(&header, group.data(), sizeof header);
    ASSERT_EQ(header.count, 7);
    ASSERT_EQ(group.size(), sizeof header + 7 * sizeof(GroupIconEntry));
    const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
    for (int i = 0; i < 7; ++i) {
        GroupIconEntry entry{};
        std::memcpy(&entry, group.data() + sizeof header + i * sizeof entry, sizeof entry);
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(entry.width, static_cast<BYTE>(sizes[i] % 256));
        EXPECT_EQ(entry.bitCount, 32);
        const std::string image = ResourceBytes(program_, entry.id, RT_ICON);
        ASSERT_EQ(image.size(), entry.bytesInRes);
        EXPECT_EQ(std::memcmp(image.data(), kPngSignature, sizeof kPngSignature), 0);
        EXPECT_EQ(BigEndian32(reinterpret_cast<const unsigned char*>(image.data()) + 16), static_cast<std::uint32_t>(sizes[i]));
    }
}

TEST_F(ProgramResources, ManifestAsksForAdministratorAndDeclaresDpiAwareness) {
    const std::string manifest = ResourceBytes(program_, 1, RT_MANIFEST);
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
}

}  // namespace
}  // namespace orivanta
