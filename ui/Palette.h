#pragma once
// The colours both renderers draw with, by what each colour means. The brand
// palette is the program's look; in Windows' high-contrast mode every role
// takes one of the user's system colours instead, and decorations (shadows,
// gradients, tinted backdrops, translucency) are left out.

#include <windows.h>

#include <cstdint>

namespace orivanta {

// Colours are 0xRRGGBB.
struct Palette {
    std::uint32_t background;       // canvas; a blocked card blends into it
    std::uint32_t surface;          // cards and panels
    std::uint32_t selectedSurface;  // the chosen card
    std::uint32_t headerStart;      // header band gradient
    std::uint32_t headerEnd;
    std::uint32_t headerText;
    std::uint32_t headerMutedText;
    std::uint32_t headerRule;
    std::uint32_t captionGlyph;         // minimise and close glyphs
    std::uint32_t captionHover;         // backdrop of the hovered minimise button
    std::uint32_t closeHover;           // backdrop of the hovered close button
    std::uint32_t closeGlyphHovered;
    std::uint32_t minimiseGlyphHovered;
    std::uint32_t title;
    std::uint32_t text;
    std::uint32_t secondaryText;
    std::uint32_t mutedText;
    std::uint32_t link;     // emphasised and host texts
    std::uint32_t warning;  // what needs customer service
    std::uint32_t accent;   // chosen card, radio, progress, main button
    std::uint32_t hoverOutline;
    std::uint32_t focusRing;
    std::uint32_t cardBorder;
    std::uint32_t panelBorder;
    std::uint32_t lanBorder;
    std::uint32_t foundBorder;
    std::uint32_t separator;
    std::uint32_t radio;
    std::uint32_t icon;
    std::uint32_t folderIcon;
    std::uint32_t blockedText;  // the server card while a host exists
    std::uint32_t blockedDetail;
    std::uint32_t blockedIcon;
    std::uint32_t blockedBorder;
    std::uint32_t badgeMark;  // check mark on the found badge
    std::uint32_t foundBadge;
    std::uint32_t idleBadge;
    std::uint32_t lanBackdrop;
    std::uint32_t foundBackdrop;
    std::uint32_t warningBackdrop;
    std::uint32_t recommendBackdrop;
    std::uint32_t shadow;
    std::uint32_t track;
    std::uint32_t buttonText;
    std::uint32_t buttonHover;
    std::uint32_t disabledButton;
    std::uint32_t disabledButtonText;
    // Shadows, the header gradient, tinted backdrops and translucent fills; off
    // in high contrast, where the disabled button gets an outline instead.
    bool decorations;

    bool operator==(const Palette&) const = default;
};

inline constexpr Palette kBrandPalette{
    .background = 0xF8FAFC,
    .surface = 0xFFFFFF,
    .selectedSurface = 0xF1F8FD,
    .headerStart = 0x04172E,
    .headerEnd = 0x072846,
    .headerText = 0xFFFFFF,
    .headerMutedText = 0xD9E8F5,
    .headerRule = 0x66809A,
    .captionGlyph = 0xDDE8F3,
    .captionHover = 0xFFFFFF,
    .closeHover = 0xD94B4B,
    .closeGlyphHovered = 0xFFFFFF,
    .minimiseGlyphHovered = 0xDDE8F3,
    .title = 0x071D37,
    .text = 0x142033,
    .secondaryText = 0x5C6B7E,
    .mutedText = 0x718094,
    .link = 0x0879BF,
    .warning = 0xB85A25,
    .accent = 0x0A7FC3,
    .hoverOutline = 0x85C4E7,
    .focusRing = 0x15A9DB,
    .cardBorder = 0xD5DFEA,
    .panelBorder = 0xDCE5EE,
    .lanBorder = 0xD6E6F1,
    .foundBorder = 0x9ADBD1,
    .separator = 0xE4EAF0,
    .radio = 0x9AABBC,
    .icon = 0x1A3552,
    .folderIcon = 0x29425D,
    .blockedText = 0x718094,
    .blockedDetail = 0x9A5B39,
    .blockedIcon = 0x8FA0B2,
    .blockedBorder = 0xD5DFEA,
    .badgeMark = 0xFFFFFF,
    .foundBadge = 0x0FAE9B,
    .idleBadge = 0xE3EFF7,
    .lanBackdrop = 0xF1F7FB,
    .foundBackdrop = 0xF0FBF9,
    .warningBackdrop = 0xFFF0E9,
    .recommendBackdrop = 0xDFF4FF,
    .shadow = 0x071D37,
    .track = 0xE5ECF3,
    .buttonText = 0xFFFFFF,
    .buttonHover = 0x075F9B,
    .disabledButton = 0xA9B7C6,
    .disabledButtonText = 0xFFFFFF,
    .decorations = true,
};

// A system colour (COLOR_WINDOW, ...) as 0xRRGGBB.
using SystemColourLookup = std::uint32_t (*)(int index);

// Every role mapped onto COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT,
// COLOR_HIGHLIGHTTEXT, COLOR_BTNFACE, COLOR_GRAYTEXT or COLOR_HOTLIGHT.
Palette HighContrastPalette(SystemColourLookup systemColour);

// Where the palette comes from: whether high contrast is on, and the system colours.
struct ColourScheme {
    bool (*highContrastOn)();
    SystemColourLookup systemColour;
};
// SystemParametersInfo(SPI_GETHIGHCONTRAST) and GetSysColor.
ColourScheme WindowsColourScheme();

// The palette the window draws with (UI thread only). RefreshPalette reads it
// again from the scheme, at start and whenever the settings or the theme change.
const Palette& CurrentPalette();
void RefreshPalette();
// The scheme RefreshPalette reads; Windows' own unless replaced.
void UseColourScheme(const ColourScheme& scheme);

}  // namespace orivanta
