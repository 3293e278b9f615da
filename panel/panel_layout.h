// Where every control of the control panel stands, in twips of the window's
// client area (15 twips make a pixel at 96 dots per inch).
#pragma once

#include <QRect>
#include <QtMath>

namespace kvx::layout {

struct Twips {
    int left, top, width, height;
};

inline int toPixels(int twips) { return qRound(twips / 15.0); }
inline QRect toPixels(const Twips& place)
{
    return QRect(toPixels(place.left), toPixels(place.top), toPixels(place.width), toPixels(place.height));
}

inline constexpr int ClientWidth = 8100;
inline constexpr int ClientHeight = 5310;

inline constexpr Twips cmdExit{5760, 360, 735, 375};
inline constexpr Twips Slider1{480, 4440, 6975, 375};
inline constexpr Twips Frame7{240, 4200, 7455, 735};
inline constexpr Twips Go{3840, 2760, 495, 375};
inline constexpr Twips Picture1{240, 240, 5295, 735};
inline constexpr Twips Text1{360, 1440, 3255, 705};
inline constexpr Twips Frame1{240, 1200, 3495, 1095};
inline constexpr Twips Text2{360, 2640, 3255, 705};
inline constexpr Twips Frame2{240, 2400, 4695, 1095};
inline constexpr Twips Command1{5160, 2760, 735, 375};
inline constexpr Twips Command2{5160, 1560, 735, 375};
inline constexpr Twips Text3{1320, 3480, 2655, 345};
inline constexpr Twips Slider2{6720, 240, 630, 1575};
inline constexpr Twips Slider3{6000, 2640, 630, 1575};
inline constexpr Twips Slider4{6480, 2640, 630, 1575};
inline constexpr Twips Label2{6120, 2400, 1815, 1695};
inline constexpr Twips Label3{6360, 1800, 1215, 255};
inline constexpr Twips Command6{3960, 1800, 735, 255};
inline constexpr Twips Label4{5280, 3840, 615, 255};
inline constexpr Twips Label5{3960, 1080, 735, 255};
inline constexpr Twips Command3{3960, 2040, 735, 255};
inline constexpr Twips Command7{4440, 2760, 255, 375};
inline constexpr Twips Label10{7560, 600, 255, 495};
inline constexpr Twips Label9{7440, 360, 495, 255};
inline constexpr Twips Slider5{7200, 2640, 615, 1575};

inline constexpr Twips Shape3{3960, 1440, 255, 255};
inline constexpr Twips Shape4{4440, 1440, 255, 255};
inline constexpr Twips Shape2{5280, 3240, 495, 495};
inline constexpr Twips Shape1{3840, 4080, 255, 975};

} // namespace kvx::layout
