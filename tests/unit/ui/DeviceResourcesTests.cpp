#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdlib>
#include <string>

#include "common/Utf.h"
#include "ui/DeviceResources.h"

namespace orivanta {
namespace {

TEST(RenderTargetDpi, MakesTheCanvasSpanTheClientWidth) {
    EXPECT_FLOAT_EQ(RenderTargetDpi(1120), 96.0f);
    EXPECT_FLOAT_EQ(RenderTargetDpi(1680), 144.0f);
    EXPECT_FLOAT_EQ(RenderTargetDpi(784), 67.2f);
    EXPECT_FLOAT_EQ(RenderTargetDpi(0), 96.0f);
}

// The factories and the program's own resources, read from the built program as a data file.
class DeviceResourcesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        CreateGraphicsFactories();
    }
    static void TearDownTestSuite() {
        ReleaseGraphicsObjects();
        ::CoUninitialize();
    }

    static HMODULE ProgramModule() {
        const char* exe = std::getenv("ORIVANTA_EXE");
        if (exe == nullptr) return nullptr;
        std::wstring path = L"Z:" + Utf8ToUtf16(exe);
        for (wchar_t& c : path) {
            if (c == L'/') c = L'\\';
        }
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }

    static void ExpectImage(const ComPtr<IWICBitmapSource>& image, UINT width, UINT height) {
        ASSERT_TRUE(image);
        UINT w = 0, h = 0;
        ASSERT_TRUE(SUCCEEDED(image->GetSize(&w, &h)));
        EXPECT_EQ(w, width);
        EXPECT_EQ(h, height);
        WICPixelFormatGUID format{};
        ASSERT_TRUE(SUCCEEDED(image->GetPixelFormat(&format)));
        EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat32bppPBGRA));
        // Every pixel can be read back (the decoder really produced the image).
        std::string pixels(static_cast<size_t>(width) * height * 4, '\0');
        EXPECT_TRUE(SUCCEEDED(image->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size()),
                                                reinterpret_cast<BYTE*>(pixels.data()))));
    }
};

TEST_F(DeviceResourcesTest, DecodesLogoAndQrFromTheProgramsResources) {
    HMODULE program = ProgramModule();
    ASSERT_NE(program, nullptr) << "ORIVANTA_EXE names the built program";
    IWICImagingFactory* imaging = Graphics().imagingFactory.get();
    ExpectImage(DecodeLogoImage(imaging, program), 361, 92);
    ExpectImage(DecodeQrImage(imaging, program), 136, 136);
    ::FreeLibrary(program);
}

TEST_F(DeviceResourcesTest, MissingResourcesLeaveTheImagesOut) {
    HMODULE withoutResources = ::GetModuleHandleW(nullptr);
    IWICImagingFactory* imaging = Graphics().imagingFactory.get();
    EXPECT_FALSE(DecodeLogoImage(imaging, withoutResources));
    EXPECT_FALSE(DecodeQrImage(imaging, withoutResources));
    HMODULE program = ProgramModule();
    EXPECT_FALSE(DecodeLogoImage(nullptr, program));
    EXPECT_FALSE(DecodeQrImage(nullptr, program));
    if (program != nullptr) ::FreeLibrary(program);
}

TEST_F(DeviceResourcesTest, LabelFormatsCarryFamilySizeWeightAndAlignment) {
    ComPtr<IDWriteTextFormat> format = CreateLabelFormat(12.5f, 600, TextAlign::Trailing);
    ASSERT_TRUE(format);
    wchar_t family[64] = {};
    ASSERT_TRUE(SUCCEEDED(format->GetFontFamilyName(family, 64)));
    EXPECT_STREQ(family, L"Microsoft YaHei UI");
    EXPECT_FLOAT_EQ(format->GetFontSize(), 12.5f);
    EXPECT_EQ(format->GetFontWeight(), DWRITE_FONT_WEIGHT_SEMI_BOLD);
    EXPECT_EQ(format->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_TRAILING);
    EXPECT_EQ(format->GetParagraphAlignment(), DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
    wchar_t locale[16] = {};
    ASSERT_TRUE(SUCCEEDED(format->GetLocaleName(locale, 16)));
    EXPECT_EQ(_wcsicmp(locale, L"zh-CN"), 0) << "locale " << Utf16ToUtf8(locale);  // Wine lower-cases it

    EXPECT_EQ(CreateLabelFormat(15, 700, TextAlign::Center)->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_CENTER);
    EXPECT_EQ(CreateLabelFormat(15, 400, TextAlign::Leading)->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_LEADING);
}

}  // namespace
}  // namespace orivanta
