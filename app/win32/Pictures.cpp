#include "app/win32/Pictures.h"

#include <functional>

namespace app::win32 {

namespace {

constexpr COLORREF transparent = RGB(255, 0, 255);

// One picture drawn at 28 x 28 units on a `side`-pixel square.
HBITMAP drawPicture(int side, const std::function<void(HDC, int)>& draw) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, side, side);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, side, side};
    HBRUSH back = CreateSolidBrush(transparent);
    FillRect(dc, &all, back);
    DeleteObject(back);
    draw(dc, side);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

int at(int units, int side) {
    return MulDiv(units, side, 28);
}

void chip(HDC dc, int side, COLORREF body, COLORREF pins, COLORREF arrow, COLORREF outline) {
    HPEN pen = CreatePen(PS_SOLID, 1, outline);
    HBRUSH pinBrush = CreateSolidBrush(pins);
    HBRUSH bodyBrush = CreateSolidBrush(body);
    HBRUSH arrowBrush = CreateSolidBrush(arrow);
    for (int i = 0; i < 4; ++i) {
        RECT left{at(4, side), at(15 + i * 3, side), at(7, side), at(16 + i * 3, side) + 1};
        RECT right{at(21, side), at(15 + i * 3, side), at(24, side), at(16 + i * 3, side) + 1};
        FillRect(dc, &left, pinBrush);
        FillRect(dc, &right, pinBrush);
    }
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, bodyBrush);
    RoundRect(dc, at(7, side), at(14, side), at(21, side), at(26, side), 3, 3);
    SelectObject(dc, arrowBrush);
    const POINT points[] = {{at(11, side), at(1, side)},  {at(17, side), at(1, side)},
                            {at(17, side), at(7, side)},  {at(20, side), at(7, side)},
                            {at(14, side), at(13, side)}, {at(8, side), at(7, side)},
                            {at(11, side), at(7, side)}};
    Polygon(dc, points, 7);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    DeleteObject(pinBrush);
    DeleteObject(bodyBrush);
    DeleteObject(arrowBrush);
}

void cross(HDC dc, int side, COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, at(4, side), colour);
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, at(7, side), at(7, side), nullptr);
    LineTo(dc, at(21, side), at(21, side));
    MoveToEx(dc, at(21, side), at(7, side), nullptr);
    LineTo(dc, at(7, side), at(21, side));
    SelectObject(dc, old);
    DeleteObject(pen);
}

using Drawing = std::function<void(HDC, int)>;

// A list with one picture per button state (normal, hot, pressed, disabled, default, stylus
// hot): the enabled ones show `normal`. Each is drawn afresh, since adding a picture with a mask
// colour turns that colour black in the picture added.
HIMAGELIST stateList(int side, const Drawing& normal, const Drawing& disabled) {
    HIMAGELIST list = ImageList_Create(side, side, ILC_COLOR24 | ILC_MASK, 6, 0);
    for (int state = 1; state <= 6; ++state) {
        HBITMAP picture = drawPicture(side, state == 4 ? disabled : normal);
        ImageList_AddMasked(list, picture, transparent);
        DeleteObject(picture);
    }
    return list;
}

} // namespace

HIMAGELIST startButtonPictures(int side) {
    return stateList(
        side,
        [](HDC dc, int s) {
            chip(dc, s, RGB(40, 40, 48), RGB(150, 150, 160), RGB(0, 160, 0), RGB(0, 0, 0));
        },
        [](HDC dc, int s) {
            chip(dc, s, RGB(160, 160, 160), RGB(190, 190, 190), RGB(200, 200, 200),
                 RGB(128, 128, 128));
        });
}

HIMAGELIST closeButtonPictures(int side) {
    return stateList(
        side, [](HDC dc, int s) { cross(dc, s, RGB(200, 0, 0)); },
        [](HDC dc, int s) { cross(dc, s, RGB(160, 160, 160)); });
}

} // namespace app::win32
