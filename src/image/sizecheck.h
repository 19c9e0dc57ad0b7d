// Size check of an image header before a decoder sees it.  Python-free.
//
// Decoders allocate whatever the header claims (a 30-byte GIF can ask for
// 17 GB) and several compute row offsets in int, which wraps for images
// over 2 GiB.  So before decoding, the header of every format the loaders
// read is parsed here and the image refused when it claims more pixels
// than the caller's limit, or a surface of more than INT_MAX bytes.  A
// header that cannot be read passes: the decoder reports that itself.
#pragma once

#include <SDL.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lmimg {

// Default limit on decoded pixels; the hard ceiling keeps 4-byte pixels
// with padded rows inside INT_MAX bytes.
constexpr uint64_t kDefaultMaxPixels = (uint64_t)1 << 28;
constexpr uint64_t kMaxPixelsCeiling = (uint64_t)INT_MAX / 4;

namespace sizecheck {

inline uint32_t le16(const uint8_t *p) { return p[0] | (p[1] << 8); }
inline uint32_t be16(const uint8_t *p) { return (p[0] << 8) | p[1]; }
inline uint32_t le32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
           ((uint32_t)p[3] << 24);
}
inline uint32_t be32(const uint8_t *p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) |
           ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

// Reads at offsets from the stream's position on entry, and puts the
// position back when it goes.
class Reader {
  public:
    explicit Reader(SDL_RWops *rw) : rw_(rw), start_(SDL_RWtell(rw)) {}
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;
    ~Reader()
    {
        if (start_ >= 0)
            SDL_RWseek(rw_, start_, RW_SEEK_SET);
    }
    bool usable() const { return start_ >= 0; }
    // Exactly `n` bytes at `off`, or false.
    bool at(int64_t off, void *buf, size_t n)
    {
        return off >= 0 && SDL_RWseek(rw_, start_ + off, RW_SEEK_SET) >= 0 &&
               SDL_RWread(rw_, buf, 1, n) == n;
    }
    // Up to `n` bytes at `off`; the count read.
    size_t some(int64_t off, void *buf, size_t n)
    {
        if (off < 0 || SDL_RWseek(rw_, start_ + off, RW_SEEK_SET) < 0)
            return 0;
        size_t got = 0;
        while (got < n) {
            size_t k = SDL_RWread(rw_, static_cast<uint8_t *>(buf) + got, 1, n - got);
            if (!k)
                break;
            got += k;
        }
        return got;
    }

  private:
    SDL_RWops *rw_;
    Sint64 start_;
};

// The outcome of one format's check.
struct Verdict {
    const char *format = nullptr;  // null: not this format, or unreadable
    int64_t w = 0, h = 0;
    bool invalid = false;  // a file no decoder should be handed
    const char *why = "has an invalid header";
};

inline Verdict dims(const char *format, int64_t w, int64_t h)
{
    Verdict v;
    v.format = format;
    v.w = w < 0 ? -w : w;
    v.h = h < 0 ? -h : h;
    return v;
}

inline uint64_t area(const Verdict &v) { return (uint64_t)v.w * (uint64_t)v.h; }

// `v` unless `worse` claims more pixels.
inline Verdict larger(const Verdict &v, const Verdict &worse)
{
    return worse.format && (!v.format || area(worse) > area(v)) ? worse : v;
}

// Decimal number at text[*i] after blanks (and '#' comments when
// `comments`); saturates at 2^40.  False when there is none.
inline bool text_number(const char *t, size_t n, size_t *i, bool comments,
                        int64_t *out)
{
    while (*i < n) {
        char c = t[*i];
        if (c == '#' && comments) {
            while (*i < n && t[*i] != '\n' && t[*i] != '\r')
                ++*i;
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' ||
                   c == '\v' || c == '\f') {
            ++*i;
        } else {
            break;
        }
    }
    if (*i >= n || t[*i] < '0' || t[*i] > '9')
        return false;
    int64_t v = 0;
    while (*i < n && t[*i] >= '0' && t[*i] <= '9') {
        v = v * 10 + (t[*i] - '0');
        if (v > ((int64_t)1 << 40))
            v = (int64_t)1 << 40;
        ++*i;
    }
    *out = v;
    return true;
}

inline Verdict tga(Reader &r)
{
    uint8_t h[18];
    if (!r.at(0, h, sizeof h))
        return {};
    return dims("TGA", le16(h + 12), le16(h + 14));
}

// A BITMAPINFOHEADER-style header at `off` (BMP files and icon entries).
inline Verdict bmp_info(Reader &r, int64_t off, const char *format)
{
    uint8_t h[12];
    if (!r.at(off, h, sizeof h))
        return {};
    if (le32(h) == 12)  // OS/2 core header: 16-bit sizes
        return dims(format, le16(h + 4), le16(h + 6));
    return dims(format, (int32_t)le32(h + 4), (int32_t)le32(h + 8));
}

inline Verdict bmp(Reader &r, const uint8_t *m)
{
    if (m[0] != 'B' || m[1] != 'M')
        return {};
    return bmp_info(r, 14, "BMP");
}

// Every entry of an icon directory is checked: the decoder picks one.
inline Verdict ico(Reader &r, const uint8_t *m)
{
    uint32_t type = le16(m + 2), count = le16(m + 4);
    if (le16(m) != 0 || (type != 1 && type != 2) || count == 0)
        return {};
    Verdict worst;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t e[16];
        if (!r.at(6 + 16 * (int64_t)i, e, sizeof e))
            break;
        const char *format = type == 1 ? "ICO" : "CUR";
        int64_t off = le32(e + 12);
        uint8_t sig[8];
        if (r.at(off, sig, sizeof sig) && !memcmp(sig, "\x89PNG", 4)) {
            if (r.at(off + 16, sig, sizeof sig))
                worst = larger(worst, dims(format, be32(sig), be32(sig + 4)));
        } else {
            Verdict v = bmp_info(r, off, format);
            v.h = (v.h + 1) / 2;  // the height counts the colour and mask rows
            worst = larger(worst, v);
        }
    }
    return worst;
}

// Replays the compressed codes of the image whose descriptor starts at
// `off` the way a correct decoder reads them.  The decoder in use trusts
// them: a code beyond the next free table entry (or a first code that is
// no literal) sends its string stack past its end.  False for such data;
// data that merely ends early passes (the decoder reports that).
inline bool gif_codes_ok(Reader &r, int64_t off, int64_t pixels)
{
    uint8_t d[10];
    if (!r.at(off, d, sizeof d))
        return true;
    off += 10;
    if (d[9] & 0x80)
        off += 3 * (2 << (d[9] & 7));
    uint8_t min_size;
    if (!r.at(off++, &min_size, 1))
        return true;
    if (min_size < 1 || min_size > 11)
        return false;
    const unsigned clear = 1u << min_size, end = clear + 1;
    unsigned size = min_size + 1, next = clear + 2, limit = 2 * clear;
    uint16_t length[4096] = {0};
    for (unsigned i = 0; i < clear; i++)
        length[i] = 1;
    int prev = -1;
    uint32_t acc = 0;
    unsigned have = 0;
    uint8_t block[256];
    unsigned block_len = 0, block_pos = 0;
    int64_t produced = 0;
    while (produced < pixels) {
        while (have < size) {
            if (block_pos == block_len) {
                uint8_t n;
                if (!r.at(off, &n, 1) || n == 0 || !r.at(off + 1, block, n))
                    return true;
                off += 1 + n;
                block_len = n;
                block_pos = 0;
            }
            acc |= (uint32_t)block[block_pos++] << have;
            have += 8;
        }
        unsigned code = acc & ((1u << size) - 1);
        acc >>= size;
        have -= size;
        if (code == clear) {
            size = min_size + 1;
            next = clear + 2;
            limit = 2 * clear;
            prev = -1;
            continue;
        }
        if (code == end)
            return true;
        if (prev < 0) {
            if (code >= clear)
                return false;
            produced += 1;
            prev = (int)code;
            continue;
        }
        if (code > next || (code == next && next >= 4096))
            return false;
        unsigned len = code == next ? length[prev] + 1u : length[code];
        produced += len;
        if (next < 4096) {
            length[next] = (uint16_t)SDL_min(length[prev] + 1u, 4096u);
            ++next;
            if (next >= limit && limit < 4096) {
                limit *= 2;
                ++size;
            }
        }
        prev = (int)code;
    }
    return true;
}

// The logical screen and the first image's frame, whichever is larger.
inline Verdict gif(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "GIF87a", 6) != 0 && memcmp(m, "GIF89a", 6) != 0)
        return {};
    Verdict v = dims("GIF", le16(m + 6), le16(m + 8));
    int64_t off = 13;
    if (m[10] & 0x80)
        off += 3 * (2 << (m[10] & 7));
    // As the decoder does: bytes that start no block are skipped.
    for (int steps = 0; steps < (1 << 20); steps++) {
        uint8_t b[10];
        if (!r.at(off, b, 1) || b[0] == ';')
            break;
        if (b[0] == ',') {
            if (r.at(off, b, sizeof b)) {
                Verdict f = dims("GIF", le16(b + 5), le16(b + 7));
                v = larger(v, f);
                if (!gif_codes_ok(r, off, (int64_t)area(f))) {
                    v.invalid = true;
                    v.why = "has corrupt compressed data";
                }
            }
            break;
        }
        if (b[0] != '!') {
            off += 1;
            continue;
        }
        off += 2;  // introducer and label, then data sub-blocks
        for (;;) {
            uint8_t len;
            if (!r.at(off, &len, 1))
                return v;
            off += 1 + len;
            if (!len)
                break;
        }
    }
    return v;
}

inline Verdict jpeg(Reader &r, const uint8_t *m)
{
    if (m[0] != 0xFF || m[1] != 0xD8)
        return {};
    int64_t off = 2;
    for (int segments = 0; segments < 4096; segments++) {
        uint8_t s[9];
        if (!r.at(off, s, 2) || s[0] != 0xFF)
            return {};
        uint8_t mk = s[1];
        if (mk == 0xFF) {  // fill byte
            off += 1;
            continue;
        }
        if (mk == 0x01 || (mk >= 0xD0 && mk <= 0xD8)) {
            off += 2;
            continue;
        }
        if (mk == 0xD9 || mk == 0xDA)
            return {};
        if (!r.at(off, s, sizeof s) && !r.at(off, s, 4))
            return {};
        bool sof = mk >= 0xC0 && mk <= 0xCF && mk != 0xC4 && mk != 0xC8 &&
                   mk != 0xCC;
        if (sof)
            return r.at(off, s, sizeof s) ? dims("JPEG", be16(s + 7), be16(s + 5))
                                          : Verdict{};
        off += 2 + be16(s + 2);
    }
    return {};
}

inline Verdict png(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "\x89PNG", 4) != 0)
        return {};
    uint8_t h[8];
    if (!r.at(16, h, sizeof h))
        return {};
    return dims("PNG", be32(h), be32(h + 4));
}

inline Verdict pcx(const uint8_t *m)
{
    if (m[0] != 0x0A || m[2] > 1)
        return {};
    int64_t w = (int64_t)le16(m + 8) - le16(m + 4) + 1;
    int64_t h = (int64_t)le16(m + 10) - le16(m + 6) + 1;
    return dims("PCX", w, h);
}

// Text formats whose sizes are decimal numbers near the start.
inline Verdict pnm(Reader &r, const uint8_t *m)
{
    if (m[0] != 'P' || m[1] < '1' || m[1] > '6')
        return {};
    char t[1024];
    size_t n = r.some(2, t, sizeof t);
    size_t i = 0;
    int64_t w, h;
    if (!text_number(t, n, &i, true, &w) || !text_number(t, n, &i, true, &h))
        return {};
    return dims("PNM", w, h);
}

inline Verdict xv(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "P7 332", 6) != 0)
        return {};
    char t[4096];
    size_t n = r.some(0, t, sizeof t);
    size_t i = 0;
    while (i < n) {  // skip the magic line and '#' comment lines
        bool comment = t[i] == '#' || i == 0;
        if (!comment)
            break;
        while (i < n && t[i] != '\n')
            i++;
        i++;
    }
    int64_t w, h;
    if (i >= n || !text_number(t, n, &i, false, &w) ||
        !text_number(t, n, &i, false, &h))
        return {};
    return dims("XV", w, h);
}

// True when the stream holds a NUL byte anywhere.
inline bool has_nul(Reader &r)
{
    const size_t chunk = 65536;
    char *buf = static_cast<char *>(malloc(chunk));
    if (!buf)
        return false;
    bool found = false;
    for (int64_t off = 0;; off += (int64_t)chunk) {
        size_t n = r.some(off, buf, chunk);
        if (memchr(buf, 0, n)) {
            found = true;
            break;
        }
        if (n < chunk)
            break;
    }
    free(buf);
    return found;
}

// The whole stream, up to `cap` bytes, in a malloc'ed buffer (free it);
// null when it is larger or cannot be read.
inline char *whole(Reader &r, size_t cap, size_t *len)
{
    size_t have = 0, room = 65536;
    char *buf = static_cast<char *>(malloc(room));
    while (buf) {
        size_t n = r.some((int64_t)have, buf + have, room - have);
        have += n;
        if (have < room)
            break;
        char *more = room < cap ? static_cast<char *>(realloc(buf, room * 2)) : nullptr;
        if (!more) {
            free(buf);
            return nullptr;
        }
        buf = more;
        room *= 2;
    }
    *len = have;
    return buf;
}

// Colour names every decoder's table holds; a colour given by any other
// name may be unknown to it.
inline bool common_colour_name(const char *p, size_t n)
{
    static const char *const names[] = {
        "none", "black", "white", "red", "green", "blue", "yellow", "cyan",
        "magenta", "gray", "grey", "orange", "purple", "brown", "pink", "navy",
        "maroon", "gold", "violet", "darkgray", "darkgrey", "lightgray",
        "lightgrey", "darkred", "darkgreen", "darkblue"};
    for (const char *name : names)
        if (n <= strlen(name) && !SDL_strncasecmp(name, p, n))
            return true;
    return false;
}

// Replays the decoder's reading of an XPM file: it fetches strings between
// double quotes, the pixel rows as fixed runs of width x chars-per-pixel
// bytes after the quote, and for one char per pixel looks each pixel up
// in a table without checking that the key was defined (or that a colour
// line is longer than its key).  False when that would read what is not
// there; a file it would merely reject passes.
inline bool xpm_reads_ok(const char *t, size_t n, int64_t w, int64_t h,
                         int64_t colors, int64_t cpp)
{
    size_t pos = 0;
    auto next = [&](size_t fixed, const char **line, size_t *len) {
        const char *q = static_cast<const char *>(memchr(t + pos, '"', n - pos));
        if (!q)
            return false;
        size_t start = (size_t)(q - t) + 1;
        if (fixed) {
            if (n - start < fixed + 3)
                return false;
            *len = fixed + 2;
            pos = start + fixed + 3;
        } else {
            const char *e = static_cast<const char *>(memchr(t + start, '"', n - start));
            if (!e)
                return false;
            *len = (size_t)(e - t) - start;
            pos = (size_t)(e - t) + 1;
        }
        *line = t + start;
        return true;
    };
    const char *line;
    size_t len;
    if (!next(0, &line, &len))
        return true;
    bool defined[256] = {false};
    for (int64_t i = 0; i < colors; i++) {
        if (!next(0, &line, &len))
            return true;
        if (len <= (size_t)cpp)
            return false;
        const char *p = line + cpp + 1, *end = line + len;
        for (;;) {
            while (p < end && isspace((unsigned char)*p))
                p++;
            if (p >= end)
                return true;  // a colour parse error: refused by the decoder
            char type = *p;
            while (p < end && !isspace((unsigned char)*p))
                p++;
            while (p < end && isspace((unsigned char)*p))
                p++;
            const char *name = p;
            while (p < end && !isspace((unsigned char)*p))
                p++;
            if (type == 's')
                continue;
            if (*name == '#' || p == name ||
                common_colour_name(name, (size_t)(p - name))) {
                defined[(unsigned char)line[0]] = true;
                break;
            }
            if (cpp == 1)
                return false;  // perhaps unknown: its key would stay undefined
        }
    }
    if (cpp != 1)
        return true;
    for (int64_t y = 0; y < h; y++) {
        if (!next((size_t)w, &line, &len))
            return true;
        for (int64_t x = 0; x < w; x++)
            if (!defined[(unsigned char)line[x]])
                return false;
    }
    return true;
}

inline Verdict xpm(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "/* XPM */", 9) != 0)
        return {};
    char t[8192];
    size_t n = r.some(0, t, sizeof t);
    const char *q = static_cast<const char *>(memchr(t, '"', n));
    if (!q)
        return {};
    size_t i = (size_t)(q - t) + 1;
    int64_t w, h, colors, cpp;
    if (!text_number(t, n, &i, false, &w) || !text_number(t, n, &i, false, &h) ||
        !text_number(t, n, &i, false, &colors) ||
        !text_number(t, n, &i, false, &cpp))
        return {};
    Verdict v = dims("XPM", w, h);
    // The decoder sizes its colour table as colours x characters in int,
    // and its line parser runs past a NUL byte: XPM is C text.
    v.invalid = colors > (1 << 24) || cpp > 16 || has_nul(r);
    if (!v.invalid && w > 0 && h > 0 && colors > 0 && cpp > 0 &&
        (uint64_t)w * (uint64_t)h <= kMaxPixelsCeiling) {
        size_t len;
        char *text = whole(r, (size_t)1 << 30, &len);
        if (!text || !xpm_reads_ok(text, len, w, h, colors, cpp)) {
            v.invalid = true;
            v.why = "has pixels of undefined or unknown colours, or short lines";
        }
        free(text);
    }
    return v;
}

// Chunks of an IFF file up to the bitmap header.
inline Verdict lbm(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "FORM", 4) != 0 ||
        (memcmp(m + 8, "ILBM", 4) != 0 && memcmp(m + 8, "PBM ", 4) != 0))
        return {};
    int64_t off = 12;
    for (int chunks = 0; chunks < 256; chunks++) {
        uint8_t c[12];
        if (!r.at(off, c, sizeof c))
            return {};
        if (!memcmp(c, "BMHD", 4))
            return dims("LBM", be16(c + 8), be16(c + 10));
        off += 8 + (((int64_t)be32(c + 4) + 1) & ~(int64_t)1);
    }
    return {};
}

inline Verdict tiff(Reader &r, const uint8_t *m)
{
    bool le = !memcmp(m, "II*\0", 4);
    if (!le && memcmp(m, "MM\0*", 4) != 0)
        return {};
    auto u16 = [le](const uint8_t *p) { return le ? le16(p) : be16(p); };
    auto u32 = [le](const uint8_t *p) { return le ? le32(p) : be32(p); };
    int64_t ifd = u32(m + 4);
    uint8_t c[2];
    if (!r.at(ifd, c, 2))
        return {};
    int64_t w = -1, h = -1;
    for (uint32_t i = 0, n = u16(c); i < n && i < 4096; i++) {
        uint8_t e[12];
        if (!r.at(ifd + 2 + 12 * (int64_t)i, e, sizeof e))
            break;
        uint32_t tag = u16(e), type = u16(e + 2);
        int64_t val = type == 3 ? u16(e + 8) : type == 4 ? u32(e + 8) : -1;
        if (tag == 256)
            w = val;
        else if (tag == 257)
            h = val;
    }
    if (w < 0 || h < 0)
        return {};
    return dims("TIFF", w, h);
}

inline Verdict xcf(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "gimp xcf ", 9) != 0)
        return {};
    uint8_t h[8];
    if (!r.at(14, h, sizeof h))
        return {};
    return dims("XCF", be32(h), be32(h + 4));
}

inline Verdict webp(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "RIFF", 4) != 0 || memcmp(m + 8, "WEBP", 4) != 0)
        return {};
    uint8_t c[30];
    if (!r.at(0, c, sizeof c))
        return {};
    const uint8_t *d = c + 20;
    if (!memcmp(c + 12, "VP8X", 4))
        return dims("WEBP", 1 + (d[4] | (d[5] << 8) | (d[6] << 16)),
                    1 + (d[7] | (d[8] << 8) | (d[9] << 16)));
    if (!memcmp(c + 12, "VP8L", 4)) {
        uint32_t bits = le32(d + 1);
        return dims("WEBP", 1 + (bits & 0x3FFF), 1 + ((bits >> 14) & 0x3FFF));
    }
    if (!memcmp(c + 12, "VP8 ", 4))
        return dims("WEBP", le16(d + 6) & 0x3FFF, le16(d + 8) & 0x3FFF);
    return {};
}

inline Verdict qoi(Reader &r, const uint8_t *m)
{
    if (memcmp(m, "qoif", 4) != 0)
        return {};
    uint8_t h[8];
    if (!r.at(4, h, sizeof h))
        return {};
    return dims("QOI", be32(h), be32(h + 4));
}

// Every image-spatial-extent property box near the start of the file.
inline Verdict avif(Reader &r, const uint8_t *m)
{
    if (memcmp(m + 4, "ftyp", 4) != 0)
        return {};
    uint8_t *buf = static_cast<uint8_t *>(malloc(65536));
    if (!buf)
        return {};
    size_t n = r.some(0, buf, 65536);
    Verdict worst;
    for (size_t i = 0; i + 16 <= n; i++)
        if (!memcmp(buf + i, "ispe", 4))
            worst = larger(worst, dims("AVIF", be32(buf + i + 8), be32(buf + i + 12)));
    free(buf);
    return worst;
}

// A length attribute of the root element in pixels at 96 dpi; 0 when
// absent or relative to a viewport that is not there yet.
inline double svg_length(const char *tag, const char *name)
{
    const char *p = tag;
    size_t len = strlen(name);
    while ((p = strstr(p, name)) != nullptr) {
        bool starts = p == tag || p[-1] == ' ' || p[-1] == '\t' ||
                      p[-1] == '\n' || p[-1] == '\r';
        const char *q = p + len;
        while (*q == ' ')
            q++;
        if (starts && *q == '=') {
            q++;
            while (*q == ' ')
                q++;
            if (*q == '"' || *q == '\'')
                q++;
            char *end;
            double v = strtod(q, &end);
            if (!std::isfinite(v) || v < 0)
                return 1e18;  // no decoder should be asked for that
            static const struct {
                const char *unit;
                double px;
            } units[] = {{"px", 1},          {"pt", 96.0 / 72},
                         {"pc", 16},         {"mm", 96 / 25.4},
                         {"cm", 96 / 2.54},  {"in", 96},
                         {"em", 16},         {"ex", 16},
                         {"%", 0}};
            for (const auto &u : units)
                if (!strncmp(end, u.unit, strlen(u.unit)))
                    return v * u.px;
            return v;
        }
        p = q;
    }
    return 0;
}

// The rasterised size is the root element's width and height, else its
// viewBox, else the extent of the drawing; that last case cannot be known
// from the header and is refused.
inline Verdict svg(Reader &r, const uint8_t *m)
{
    (void)m;
    char *buf = static_cast<char *>(malloc(65537));
    if (!buf)
        return {};
    size_t n = r.some(0, buf, 65536);
    buf[n] = 0;
    for (size_t i = 0; i < n; i++)
        if (!buf[i])
            buf[i] = ' ';
    char *tag = strstr(buf, "<svg");
    Verdict v;
    if (tag) {
        char *end = strchr(tag, '>');
        if (end)
            *end = 0;
        double w = svg_length(tag, "width"), h = svg_length(tag, "height");
        const char *vb = strstr(tag, "viewBox");
        if ((w <= 0 || h <= 0) && vb) {
            vb = strpbrk(vb, "\"'");
            double x, y, vw = 0, vh = 0;
            if (vb && sscanf(vb + 1, "%lf%*[ ,]%lf%*[ ,]%lf%*[ ,]%lf", &x, &y, &vw,
                             &vh) == 4) {
                if (w <= 0)
                    w = vw;
                if (h <= 0)
                    h = vh;
            }
        }
        if (!(w < 1e12) || !(h < 1e12))
            w = h = 1e12;
        v = dims("SVG", (int64_t)std::ceil(w), (int64_t)std::ceil(h));
        v.invalid = w <= 0 || h <= 0;
        v.why = "does not give its size (width and height, or a viewBox)";
    }
    free(buf);
    return v;
}

}  // namespace sizecheck

// Checks the header at the stream's position (which it puts back) against
// `max_pixels`.  `type` is the loader's type hint: a file without a magic
// number (TGA) is only recognised by it.  False, with SDL's error set, when
// the image must not be decoded.
inline bool image_size_ok(SDL_RWops *src, const char *type, uint64_t max_pixels)
{
    using namespace sizecheck;
    Reader r(src);
    if (!r.usable())
        return true;
    uint8_t m[16] = {0};
    if (!r.some(0, m, sizeof m))
        return true;
    Verdict v;
    if (type && !SDL_strcasecmp(type, "TGA")) {
        v = tga(r);
    } else {
        Verdict (*const checks[])(Reader &, const uint8_t *) = {
            avif, ico, bmp, gif, jpeg, lbm,
            [](Reader &, const uint8_t *mm) { return pcx(mm); },
            png, pnm, tiff, xcf, xpm, xv, webp, qoi};
        for (auto check : checks)
            if ((v = check(r, m)).format)
                break;
        if (!v.format) {
            char head[4097];
            size_t n = r.some(0, head, 4096);
            head[n] = 0;
            for (size_t i = 0; i < n; i++)
                if (!head[i])
                    head[i] = ' ';
            if (strstr(head, "<svg"))
                v = svg(r, m);
        }
    }
    if (!v.format)
        return true;
    if (v.invalid) {
        SDL_SetError("%s image %s", v.format, v.why);
        return false;
    }
    if (v.w > INT_MAX / 4 || v.h > INT_MAX || area(v) > max_pixels ||
        (uint64_t)(v.w * 4 + 3) * (uint64_t)v.h > (uint64_t)INT_MAX) {
        SDL_SetError("%s image is too large (%lld x %lld pixels; the limit is "
                     "%llu pixels, see lumora.image.set_max_pixels)",
                     v.format, (long long)v.w, (long long)v.h,
                     (unsigned long long)max_pixels);
        return false;
    }
    return true;
}

}  // namespace lmimg
