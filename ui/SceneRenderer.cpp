#include "ui/SceneRenderer.h"

#include <d2d1.h>

#include "ui/DeviceResources.h"
#include "ui/GdiRenderer.h"
#include "ui/Palette.h"
#include "ui/SceneModel.h"
#include "ui/WindowInteraction.h"
#include "state/AppState.h"

namespace orivanta {
namespace {

D2D1_COLOR_F ColorFromRgb(std::uint32_t rgb, float opacity = 1.0f) {
    return D2D1::ColorF(static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                        static_cast<float>(rgb & 0xFF) / 255.0f, opacity);
}

D2D1_RECT_F RectF(const SceneRect& r) {
    return D2D1::RectF(r.left, r.top, r.right, r.bottom);
}

D2D1_ROUNDED_RECT RoundedRect(const SceneRect& r, float radius) {
    return D2D1::RoundedRect(RectF(r), radius, radius);
}

// Executes scene items; brushes and text formats live for one item only.
class SceneExecutor {
public:
    explicit SceneExecutor(ID2D1RenderTarget* target) : target_(target) {}

    void operator()(const HeaderBandItem& item) const {
        const D2D1_GRADIENT_STOP stops[] = {{0.0f, ColorFromRgb(item.startColor)}, {1.0f, ColorFromRgb(item.endColor)}};
        ComPtr<ID2D1GradientStopCollection> collection;
        if (FAILED(target_->CreateGradientStopCollection(stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP,
                                                         collection.put()))) {
            return;
        }
        ComPtr<ID2D1LinearGradientBrush> brush;
        const auto properties = D2D1::LinearGradientBrushProperties(D2D1::Point2F(item.rect.left, item.rect.top),
                                                                    D2D1::Point2F(item.rect.right, item.rect.top));
        if (FAILED(target_->CreateLinearGradientBrush(properties, collection.get(), brush.put()))) return;
        target_->FillRectangle(RectF(item.rect), brush.get());
    }

    void operator()(const FillRoundItem& item) const {
        if (auto brush = Brush(item.color, item.opacity)) {
            target_->FillRoundedRectangle(RoundedRect(item.rect, item.radius), brush.get());
        }
    }

    void operator()(const StrokeRoundItem& item) const {
        if (auto brush = Brush(item.color, item.opacity)) {
            target_->DrawRoundedRectangle(RoundedRect(item.rect, item.radius), brush.get(), item.strokeWidth);
        }
    }

    void operator()(const LineItem& item) const {
        if (auto brush = Brush(item.color, 1.0f)) {
            target_->DrawLine(D2D1::Point2F(item.x1, item.y1), D2D1::Point2F(item.x2, item.y2), brush.get(),
                              item.width);
        }
    }

    void operator()(const LabelItem& item) const {
        if (item.text.empty()) return;
        ComPtr<IDWriteTextFormat> format = CreateLabelFormat(item.fontSize, item.weight, item.align);
        if (!format) return;
        if (auto brush = Brush(item.color, 1.0f)) {
            target_->DrawText(item.text.c_str(), static_cast<UINT32>(item.text.size()), format.get(),
                              RectF(item.rect), brush.get(), D2D1_DRAW_TEXT_OPTIONS_CLIP,
                              DWRITE_MEASURING_MODE_NATURAL);
        }
    }

    void operator()(const LogoItem& item) const {
        if (ID2D1Bitmap* logo = Graphics().logoBitmap.get()) {
            const D2D1_RECT_F source = RectF(item.source);
            target_->DrawBitmap(logo, RectF(item.destination), item.opacity, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR,
                                &source);
        }
    }

    void operator()(const QrItem& item) const {
        if (ID2D1Bitmap* qr = Graphics().qrBitmap.get()) {
            target_->DrawBitmap(qr, RectF(item.destination), item.opacity,
                                D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, nullptr);
        }
    }

private:
    ComPtr<ID2D1SolidColorBrush> Brush(std::uint32_t color, float opacity) const {
        ComPtr<ID2D1SolidColorBrush> brush;
        if (FAILED(target_->CreateSolidColorBrush(ColorFromRgb(color, opacity), brush.put()))) return {};
        return brush;
    }

    ID2D1RenderTarget* target_;
};

}  // namespace

PaintedWith PaintWindow(HWND window) {
    if (!EnsureDeviceResources(window)) {
        RenderGdiFrame(window);
        return PaintedWith::Gdi;
    }
    PAINTSTRUCT paint{};
    ::BeginPaint(window, &paint);
    const WindowInteraction& interaction = Interaction();
    const SceneInput input{ReadDisplaySnapshot(), App().busy.load(), interaction.hoverRegion, interaction.focusIndex,
                           CurrentPalette()};
    const std::vector<SceneItem> scene = BuildScene(input);

    ID2D1HwndRenderTarget* target = Graphics().renderTarget.get();
    target->BeginDraw();
    target->Clear(ColorFromRgb(input.palette.background));
    const SceneExecutor executor(target);
    for (const SceneItem& item : scene) std::visit(executor, item);
    const HRESULT drawn = target->EndDraw();
    ::EndPaint(window, &paint);
    // Any other EndDraw failure is left alone: the next frame draws again.
    if (drawn == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) ReleaseDeviceResources();
    return PaintedWith::Direct2D;
}

}  // namespace orivanta
