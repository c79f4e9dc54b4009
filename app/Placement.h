#pragma once

namespace app {

struct ScreenRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const ScreenRect&) const = default;
};

// Where a window of outer size `width` x `height` goes on a screen whose free area is `area`:
// centred, and never larger than the area nor beyond its edges, so that its title bar and
// buttons can always be reached (a change log at 200 % on a small screen).
inline ScreenRect centredWithin(const ScreenRect& area, int width, int height) {
    const int w = width < area.width ? width : area.width;
    const int h = height < area.height ? height : area.height;
    return {area.x + (area.width - w) / 2, area.y + (area.height - h) / 2, w, h};
}

// Where the `index`-th of several windows opened one after another goes (0: at `first`): each a
// `step` right of and below the one before, so that none lies exactly over another, starting at
// `first` again once the next would reach beyond `area`.
inline ScreenRect cascaded(const ScreenRect& area, const ScreenRect& first, int index, int step) {
    if (step <= 0 || index <= 0) return first;
    int fit = 1; // places that keep the window inside the area
    while (first.x + first.width + fit * step <= area.x + area.width &&
           first.y + first.height + fit * step <= area.y + area.height)
        ++fit;
    const int k = index % fit;
    return {first.x + k * step, first.y + k * step, first.width, first.height};
}

// The left edge of a panel's caption. The caption is centred with its trailing spaces, which push
// its words left of the panel's controls; a font wider than the one the layout was drawn with
// would still push them into the controls, so the words (`inkedWidth`, without those spaces) end
// before `limit` when there is room.
inline int panelCaptionLeft(int contentLeft, int contentWidth, int fullWidth, int inkedWidth,
                            int limit) {
    const int centred = contentLeft + (contentWidth - fullWidth) / 2;
    const int clear = limit - inkedWidth;
    const int left = centred < clear ? centred : clear;
    return left > contentLeft + 2 ? left : contentLeft + 2;
}

} // namespace app
