#include "ui/DeviceResources.h"

#include <shlwapi.h>

#include <stdexcept>

#include "ui/CanvasLayout.h"

namespace orivanta {
namespace {

ComPtr<IWICBitmapSource> ConvertToPremultipliedBgra(IWICImagingFactory* imaging, IWICBitmapSource* source) {
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(imaging->CreateFormatConverter(converter.put()))) return {};
    if (FAILED(converter->Initialize(source, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return {};
    }
    ComPtr<IWICBitmapSource> converted;
    if (FAILED(converter->QueryInterface(__uuidof(IWICBitmapSource), converted.put_void()))) return {};
    return converted;
}

// At 96 DPI one bitmap pixel is one canvas unit, so the logo's source rectangle
// (pixels) stays right whatever DPI the render target was given; with no DPI of
// its own a bitmap would take the target's and the logo would be cropped.
ComPtr<ID2D1Bitmap> CreateBitmap(ID2D1RenderTarget* target, const ComPtr<IWICBitmapSource>& image) {
    const D2D1_BITMAP_PROPERTIES properties = D2D1::BitmapProperties(D2D1::PixelFormat(), 96.0f, 96.0f);
    ComPtr<ID2D1Bitmap> bitmap;
    if (!image || FAILED(target->CreateBitmapFromWicBitmap(image.get(), &properties, bitmap.put()))) return {};
    return bitmap;
}

}  // namespace

// Never destroyed: on the fatal path the process ends without the ordered
// release, and COM objects must not be released from static destructors then.
GraphicsObjects& Graphics() {
    static GraphicsObjects* objects = new GraphicsObjects;
    return *objects;
}

void CreateGraphicsFactories() {
    GraphicsObjects& g = Graphics();
    if (FAILED(::D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                   g.d2dFactory.put_void()))) {
        throw std::runtime_error("Direct2D is unavailable");
    }
    if (FAILED(::DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                     reinterpret_cast<IUnknown**>(g.writeFactory.put())))) {
        throw std::runtime_error("DirectWrite is unavailable");
    }
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IWICImagingFactory), g.imagingFactory.put_void()))) {
        throw std::runtime_error("Windows Imaging Component is unavailable");
    }
}

float RenderTargetDpi(int clientWidth) {
    return clientWidth >= 1 ? static_cast<float>(clientWidth) * 96.0f / kCanvasWidth : 96.0f;
}

ComPtr<IWICBitmapSource> DecodeQrImage(IWICImagingFactory* imaging, HMODULE module) {
    UniqueGdiObject dib(::LoadImageW(module, MAKEINTRESOURCEW(kQrBitmapResourceId), IMAGE_BITMAP, 0, 0,
                                     LR_CREATEDIBSECTION));
    if (!dib || imaging == nullptr) return {};
    ComPtr<IWICBitmap> source;
    if (FAILED(imaging->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(dib.get()), nullptr, WICBitmapIgnoreAlpha,
                                                source.put()))) {
        return {};
    }
    return ConvertToPremultipliedBgra(imaging, source.get());
}

ComPtr<IWICBitmapSource> DecodeLogoImage(IWICImagingFactory* imaging, HMODULE module) {
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(kLogoResourceId), RT_RCDATA);
    if (resource == nullptr || imaging == nullptr) return {};
    HGLOBAL loaded = ::LoadResource(module, resource);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, resource);
    if (bytes == nullptr || size == 0) return {};

    ComPtr<IStream> stream;
    *stream.put() = ::SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
    if (!stream) return {};
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(imaging->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad,
                                                decoder.put()))) {
        return {};
    }
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.put()))) return {};
    return ConvertToPremultipliedBgra(imaging, frame.get());
}

bool EnsureDeviceResources(HWND window) {
    GraphicsObjects& g = Graphics();
    if (g.renderTarget) return true;
    if (!g.d2dFactory) return false;

    RECT client{};
    ::GetClientRect(window, &client);
    const int width = client.right - client.left;
    const float dpi = RenderTargetDpi(width);
    const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
        D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN), dpi, dpi,
        D2D1_RENDER_TARGET_USAGE_NONE, D2D1_FEATURE_LEVEL_DEFAULT);
    const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties = D2D1::HwndRenderTargetProperties(
        window, D2D1::SizeU(static_cast<UINT32>(width), static_cast<UINT32>(client.bottom - client.top)),
        D2D1_PRESENT_OPTIONS_NONE);
    if (FAILED(g.d2dFactory->CreateHwndRenderTarget(&properties, &windowProperties, g.renderTarget.put()))) {
        g.renderTarget.reset();
        return false;
    }

    HMODULE module = ::GetModuleHandleW(nullptr);
    g.qrBitmap = CreateBitmap(g.renderTarget.get(), DecodeQrImage(g.imagingFactory.get(), module));
    g.logoBitmap = CreateBitmap(g.renderTarget.get(), DecodeLogoImage(g.imagingFactory.get(), module));
    return true;
}

void ReleaseDeviceResources() {
    GraphicsObjects& g = Graphics();
    g.logoBitmap.reset();
    g.qrBitmap.reset();
    g.renderTarget.reset();
}

void ReleaseGraphicsObjects() {
    ReleaseDeviceResources();
    GraphicsObjects& g = Graphics();
    g.imagingFactory.reset();
    g.writeFactory.reset();
    g.d2dFactory.reset();
}

ComPtr<IDWriteTextFormat> CreateLabelFormat(float size, int weight, TextAlign alignment) {
    ComPtr<IDWriteTextFormat> format;
    IDWriteFactory* factory = Graphics().writeFactory.get();
    if (factory == nullptr ||
        FAILED(factory->CreateTextFormat(L"Microsoft YaHei UI", nullptr, static_cast<DWRITE_FONT_WEIGHT>(weight),
                                         DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, size, L"zh-CN",
                                         format.put()))) {
        return {};
    }
    format->SetTextAlignment(static_cast<DWRITE_TEXT_ALIGNMENT>(alignment));
    format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
    return format;
}

}  // namespace orivanta
