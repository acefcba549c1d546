#include "ui/Palette.h"

namespace orivanta {
namespace {

bool SystemHighContrastOn() {
    HIGHCONTRASTW contrast{sizeof contrast};
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) != FALSE &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

std::uint32_t SystemColour(int index) {
    const COLORREF colour = ::GetSysColor(index);
    return (static_cast<std::uint32_t>(GetRValue(colour)) << 16) | (static_cast<std::uint32_t>(GetGValue(colour)) << 8) |
           GetBValue(colour);
}

struct PaletteState {
    ColourScheme scheme = WindowsColourScheme();
    Palette palette = kBrandPalette;
};

PaletteState& State() {
    static PaletteState state;
    return state;
}

}  // namespace

Palette HighContrastPalette(SystemColourLookup systemColour) {
    const std::uint32_t window = systemColour(COLOR_WINDOW);
    const std::uint32_t text = systemColour(COLOR_WINDOWTEXT);
    const std::uint32_t highlight = systemColour(COLOR_HIGHLIGHT);
    const std::uint32_t highlightText = systemColour(COLOR_HIGHLIGHTTEXT);
    const std::uint32_t buttonFace = systemColour(COLOR_BTNFACE);
    const std::uint32_t grey = systemColour(COLOR_GRAYTEXT);
    const std::uint32_t hot = systemColour(COLOR_HOTLIGHT);
    return Palette{
        .background = window,
        .surface = window,
        .selectedSurface = window,
        .headerStart = window,
        .headerEnd = window,
        .headerText = text,
        .headerMutedText = text,
        .headerRule = text,
        .captionGlyph = text,
        .captionHover = highlight,
        .closeHover = highlight,
        .closeGlyphHovered = highlightText,
        .minimiseGlyphHovered = highlightText,
        .title = text,
        .text = text,
        .secondaryText = text,
        .mutedText = text,
        .link = hot,
        .warning = text,
        .accent = highlight,
        .hoverOutline = hot,
        .focusRing = text,
        .cardBorder = text,
        .panelBorder = text,
        .lanBorder = text,
        .foundBorder = text,
        .separator = grey,
        .radio = text,
        .icon = text,
        .folderIcon = text,
        .blockedText = grey,
        .blockedDetail = grey,
        .blockedIcon = grey,
        .blockedBorder = grey,
        .badgeMark = text,
        .foundBadge = window,
        .idleBadge = window,
        .lanBackdrop = window,
        .foundBackdrop = window,
        .warningBackdrop = window,
        .recommendBackdrop = window,
        .shadow = window,
        .track = buttonFace,
        .buttonText = highlightText,
        .buttonHover = hot,
        .disabledButton = buttonFace,
        .disabledButtonText = grey,
        .decorations = false,
    };
}

ColourScheme WindowsColourScheme() {
    return ColourScheme{SystemHighContrastOn, SystemColour};
}

const Palette& CurrentPalette() {
    return State().palette;
}

void RefreshPalette() {
    PaletteState& state = State();
    state.palette = state.scheme.highContrastOn() ? HighContrastPalette(state.scheme.systemColour) : kBrandPalette;
}

void UseColourScheme(const ColourScheme& scheme) {
    State().scheme = scheme;
}

}  // namespace orivanta
