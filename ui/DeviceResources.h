#pragma once
// The graphics objects the UI thread owns: the three factories created once at
// start-up, and the device resources that live as long as the Direct2D render
// target (the target itself, the logo and the support QR bitmaps).

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>

#include "common/Handles.h"
#include "ui/ResourceIds.h"
#include "ui/SceneModel.h"

namespace orivanta {

struct GraphicsObjects {
    ComPtr<ID2D1Factory> d2dFactory;
    ComPtr<IDWriteFactory> writeFactory;
    ComPtr<IWICImagingFactory> imagingFactory;
    ComPtr<ID2D1HwndRenderTarget> renderTarget;
    ComPtr<ID2D1Bitmap> logoBitmap;
    ComPtr<ID2D1Bitmap> qrBitmap;
};

// UI thread only.
GraphicsObjects& Graphics();

// Raises "Direct2D is unavailable", "DirectWrite is unavailable" or
// "Windows Imaging Component is unavailable". COM must be initialised.
void CreateGraphicsFactories();

// True when a render target exists afterwards; false sends the frame to GDI.
bool EnsureDeviceResources(HWND window);
// Logo bitmap, QR bitmap, render target, in that order.
void ReleaseDeviceResources();
// The device resources, then the imaging, DirectWrite and Direct2D factories.
void ReleaseGraphicsObjects();

// DPI that makes the canvas' 1120 units span the client width; 96 for an empty client.
float RenderTargetDpi(int clientWidth);

// A module's images decoded to 32-bit premultiplied BGRA, ready for a render
// target; null when the resource is absent or not decodable.
ComPtr<IWICBitmapSource> DecodeQrImage(IWICImagingFactory* imaging, HMODULE module);
ComPtr<IWICBitmapSource> DecodeLogoImage(IWICImagingFactory* imaging, HMODULE module);

// One label's text format; null when DirectWrite refuses it.
ComPtr<IDWriteTextFormat> CreateLabelFormat(float size, int weight, TextAlign alignment);

}  // namespace orivanta
