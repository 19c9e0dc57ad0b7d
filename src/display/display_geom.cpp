#include "display_geom.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace dgeom {

bool crop_to_window(const SDL_Rect &r, int W, int H, SDL_Rect *out)
{
    int64_t x = r.x, y = r.y, w = r.w, h = r.h;
    if (x > W || y > H || x + w <= 0 || y + h <= 0)
        return false;
    int64_t x0 = std::max<int64_t>(x, 0);
    int64_t y0 = std::max<int64_t>(y, 0);
    int64_t x1 = std::min<int64_t>(x + w, W);
    int64_t y1 = std::min<int64_t>(y + h, H);
    if (x1 <= x0 || y1 <= y0)
        return false;
    out->x = (int)x0;
    out->y = (int)y0;
    out->w = (int)(x1 - x0);
    out->h = (int)(y1 - y0);
    return true;
}

int integer_factor(int avail_w, int avail_h, int w, int h)
{
    if (w <= 0 || h <= 0 || avail_w <= 0 || avail_h <= 0)
        return 1;
    double k = std::min(std::floor((double)avail_w / w),
                        std::floor((double)avail_h / h));
    return k < 1.0 ? 1 : (int)k;
}

double ratio(int w, int h)
{
    return h > 0 ? (double)w / (double)h : 0.0;
}

static int trunc_int(double v)
{
    if (!std::isfinite(v) || v <= 0.0)
        return 0;
    if (v >= 2147483647.0)
        return 2147483647;
    return (int)v;
}

void fit_aspect(int bw, int bh, int w, int h, int *out_w, int *out_h)
{
    double a = ratio(w, h);
    double box = ratio(bw, bh);
    if (a <= 0.0 || box <= 0.0) {
        *out_w = bw;
        *out_h = bh;
        return;
    }
    if (box > a) {
        *out_w = trunc_int(bh * a);
        *out_h = bh;
    }
    else {
        *out_w = bw;
        *out_h = trunc_int(bw / a);
    }
}

Box letterbox(double aspect, double cmp, int nw, int nh)
{
    if (!(aspect > 0.0) || !std::isfinite(aspect) || !std::isfinite(cmp) ||
        nw <= 0 || nh <= 0)
        return Box{0, 0, nw, nh};
    if (aspect < cmp) {
        int vw = trunc_int(aspect * nh);
        return Box{(nw - vw) / 2, 0, vw, nh};
    }
    return Box{0, 0, nw, trunc_int(nw / aspect)};
}

}  // namespace dgeom
